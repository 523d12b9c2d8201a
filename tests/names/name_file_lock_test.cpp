#include "names/name_file_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "names/default_name_text.h"
#include "names_test_support.h"
#include "recording_message_boxes.h"
#include "told_store.h"

namespace {

constexpr auto patience = NameFileLock::default_patience;

#ifndef _WIN32
// Two processes rename relays of their own, each at a new address every time, so that a
// rename undone by the other stays lost: every rename reported stored must be kept.
TEST(NameFileLock, RenamesOfConcurrentProcessesAreAllKept) {
  TempFolder folder;
  const auto path = folder / "name.txt";
  write_bytes(path, default_name_text());
  RecordingMessageBoxes messages;
  ToldStore profile_store(messages);
  const auto key = [](int relay) { return "relay" + std::to_string(relay) + "name"; };
  const auto section = [](int i) { return "address " + std::to_string(i); };
  std::fflush(nullptr);
  pid_t children[2];
  for (const int relay : {1, 2}) {
    if ((children[relay - 1] = fork()) != 0) continue;
    for (int i = 0; i < 120; ++i) {
      if (!profile_store.write_value(path, section(i), key(relay), std::to_string(i))) _exit(1);
    }
    _exit(0);
  }
  for (const pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  int lost = 0;
  for (int i = 0; i < 120; ++i) {
    for (const int relay : {1, 2})
      lost += profile_store.read_value(path, section(i), key(relay)) != std::to_string(i);
  }
  EXPECT_EQ(lost, 0) << "of 240 renames";
}
#endif

// A writer waits a bounded time for the lock, then says so and writes nothing.
TEST(NameFileLock, AWriterGivesUpOnALockHeldTooLongAndSaysSo) {
  TempFolder folder;
  const auto path = folder / "name.txt";
  write_bytes(path, "[address 1]\r\nrelay1name=valve\r\n");
  RecordingMessageBoxes messages;
  ToldStore profile_store(messages, std::chrono::milliseconds(50));
  std::optional<NameFileLock> other(std::in_place, path, patience);
  EXPECT_FALSE(profile_store.write_value(path, "address 1", "relay1name", "pump"));
  EXPECT_EQ(read_bytes(path), "[address 1]\r\nrelay1name=valve\r\n");
  const Message busy{path.string() + " could not be written: another program kept it locked for " +
                         "50 ms (" + path.string() + ".lock). Try again in a moment.",
                     "File Error", MessageIcon::Critical};
  EXPECT_EQ(messages.shown, std::vector<Message>{busy});
  other.reset();
  EXPECT_TRUE(profile_store.write_value(path, "address 1", "relay1name", "pump"));
}

// A program that starts while another sets the file up finds it set up and keeps it.
TEST(NameFileLock, ASecondFirstStartKeepsTheFileTheFirstOneSetUp) {
  TempFolder folder;
  const auto path = folder / "name.txt";
  struct : RecordingMessageBoxes {
    void show(const Message& message) override {
      RecordingMessageBoxes::show(message);
      told = true;
    }
    std::atomic<bool> told{false};
  } messages;
  ProfileStore profile_store;
  FakeNameView view;
  NameFile names(path, profile_store, messages, view);
  std::optional<NameFileLock> first(std::in_place, path, patience);
  std::thread second([&] { names.open_or_create(); });
  // It found no file; a generous deadline so that a fault fails the test instead of hanging it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!messages.told && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_TRUE(messages.told);
  const std::string set_up = "[Software properties]\r\nThe name=First\r\n[address 0]\r\n";
  write_bytes(path, set_up);
  first.reset();
  second.join();
  EXPECT_EQ(read_bytes(path), set_up);
  EXPECT_EQ(messages.shown.size(), 1u) << "only: not found";
  EXPECT_EQ(view.captions.back(), "First");
}

}  // namespace
