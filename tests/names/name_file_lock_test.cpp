#include "names/name_file_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "names/default_name_text.h"
#include "names/module2.h"
#include "names_test_support.h"
#include "recording_message_boxes.h"

namespace {

// Runs the writers at the same time, each with descriptors of its own: as processes
// where the system can fork (the real case: the panel beside relayctl), else as threads.
// Whether every writer returned 0.
bool run_together(const std::vector<std::function<int()>>& writers) {
  bool all_done = true;
#ifdef _WIN32
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (const auto& writer : writers) threads.emplace_back([&] { failures += writer() != 0; });
  for (auto& thread : threads) thread.join();
  all_done = failures == 0;
#else
  std::fflush(nullptr);
  std::vector<pid_t> children;
  for (const auto& writer : writers) {
    const pid_t pid = fork();
    if (pid == 0) _exit(writer());
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    all_done = all_done && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
#endif
  return all_done;
}

std::string relay_name(int relay) {
  return "relay" + std::to_string(relay) + "name";
}

// Two writers rename relays of their own, each at a new address every time, so that a
// rename undone by the other writer stays lost: every rename reported stored must be
// in the file afterwards.
TEST(NameFileLock, RenamesOfConcurrentWritersAreAllKept) {
  TempFolder folder;
  const auto path = folder / "name.txt";
  write_bytes(path, default_name_text());
  constexpr int renames = 120;
  const auto writer = [&](int relay) {
    return [&, relay] {
      RecordingMessageBoxes messages;
      Module2 module2(messages);
      for (int i = 0; i < renames; ++i) {
        const std::string address = "address " + std::to_string(i);
        if (!module2.write_ini(path, address, relay_name(relay), "w" + std::to_string(i))) return 1;
      }
      return 0;
    };
  };
  ASSERT_TRUE(run_together({writer(1), writer(2)}));
  RecordingMessageBoxes messages;
  Module2 module2(messages);
  int lost = 0;
  for (int i = 0; i < renames; ++i) {
    for (const int relay : {1, 2}) {
      lost += module2.read_ini(path, "address " + std::to_string(i), relay_name(relay)) !=
              "w" + std::to_string(i);
    }
  }
  EXPECT_EQ(lost, 0) << "of " << 2 * renames << " renames";
}

// A writer waits a bounded time for the lock, then says so and writes nothing.
TEST(NameFileLock, AWriterGivesUpOnALockHeldTooLongAndSaysSo) {
  TempFolder folder;
  const auto path = folder / "name.txt";
  write_bytes(path, "[address 1]\r\nrelay1name=valve\r\n");
  RecordingMessageBoxes messages;
  Module2 module2(messages, std::chrono::milliseconds(50));
  std::optional<NameFileLock> other(std::in_place, path, NameFileLock::default_patience);
  ASSERT_TRUE(other->held());
  EXPECT_EQ(module2.write_ini(path, "address 1", "relay1name", "pump"), 0);
  EXPECT_EQ(read_bytes(path), "[address 1]\r\nrelay1name=valve\r\n");
  const Message busy{path.string() + " could not be written: another program kept it locked for " +
                         "50 ms (" + path.string() + ".lock). Try again in a moment.",
                     "File Error", MessageIcon::Critical};
  EXPECT_EQ(messages.shown, std::vector<Message>{busy});
  other.reset();
  EXPECT_EQ(module2.write_ini(path, "address 1", "relay1name", "pump"), 1);
}

// A program that starts while another sets the file up finds it set up and keeps it,
// with whatever was renamed in it meanwhile.
TEST(NameFileLock, ASecondFirstStartKeepsTheFileTheFirstOneSetUp) {
  TempFolder folder;
  const auto path = folder / "name.txt";
  struct : MessageBoxes {
    void show(const Message& message) override {
      shown.push_back(message);
      told = true;
    }
    std::vector<Message> shown;
    std::atomic<bool> told{false};
  } messages;
  Module2 module2(messages);
  FakeNameView view;
  NameFile names(path, module2, messages, view);
  std::optional<NameFileLock> first(std::in_place, path, NameFileLock::default_patience);
  std::thread second([&] { names.init_name_file(); });
  while (!messages.told) std::this_thread::yield();  // it found no file
  const std::string set_up = "[Software properties]\r\nThe name=First\r\n[address 0]\r\n";
  write_bytes(path, set_up);
  first.reset();
  second.join();
  EXPECT_EQ(read_bytes(path), set_up);
  EXPECT_EQ(messages.shown.size(), 1u) << "only: not found";
  EXPECT_EQ(view.captions.back(), "First");
}

}  // namespace
