#include "names/disk_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <csignal>
#include <iostream>
#include <random>
#include <string>

#include "names/default_name_text.h"
#include "names_test_support.h"
#include "recording_message_boxes.h"
#include "told_store.h"

namespace {

// POSIX only by design: the writer is a forked copy of this process that its own timer
// kills with SIGKILL, and the clean-up it checks is of the named temporary files that
// only the POSIX write leaves; the write without /proc is a Linux way of naming the
// file. Windows has no fork and its write reuses one temporary name: its own crash test
// starts the writer as a process of its own and kills it with TerminateProcess.
#ifndef _WIN32

// The default file with one name changed, built by hand rather than by the writer.
std::string with_relay8_of_address_128(const std::string& text, const std::string& name) {
  const std::string entry = "relay8name=relay8\r\n";
  const std::size_t at = text.find(entry, text.find("[address 128]\r\n"));
  return std::string(text).replace(at, entry.size(), "relay8name=" + name + "\r\n");
}

// Sends this process SIGKILL once `delay` has passed, whatever it is doing then.
bool arm_kill_timer(std::chrono::microseconds delay) {
  sigevent event{};
  event.sigev_notify = SIGEV_SIGNAL;
  event.sigev_signo = SIGKILL;
  timer_t timer{};
  if (timer_create(CLOCK_MONOTONIC, &event, &timer) != 0) return false;
  // A zero time would disarm the timer rather than fire it at once.
  const long ns = std::max<long>(1, static_cast<long>(delay.count()) * 1000);
  const itimerspec when{{0, 0}, {ns / 1'000'000'000, ns % 1'000'000'000}};
  return timer_settime(timer, 0, &when, nullptr) == 0;
}

// A rename killed at any moment leaves the name file whole, old or new, and the next
// start leaves no temporary file in the program's folder.
TEST(DiskFileCrash, KilledRenameLeavesAWholeFileAndTheNextStartNoTemporary) {
  constexpr int kills = 250;
  TempFolder folder;
  const auto path = folder / "name.txt";
  const std::string old_file = default_name_text();
  const std::string new_file = with_relay8_of_address_128(old_file, "valve");
  write_bytes(path, old_file);
  RecordingMessageBoxes messages;
  ToldStore profile_store{messages};
  FakeNameView view;
  NameFile names{path, profile_store.store, messages, view};

  // Kills spread over whole writes, however long the disk takes to flush one just now:
  // on a busy disk a write may take ten times longer than on an idle one.
  const auto measured = std::chrono::steady_clock::now();
  for (const char* name : {"valve", "relay8", "valve", "relay8"}) {
    ASSERT_TRUE(profile_store.write_value(path, "address 128", "relay8name", name));
  }
  const auto one_write = std::chrono::duration_cast<std::chrono::microseconds>(
      (std::chrono::steady_clock::now() - measured) / 4);
  const auto longest_delay =
      std::clamp(3 * one_write, std::chrono::microseconds(4000), std::chrono::microseconds(30000));
  std::mt19937 random(7411);
  std::uniform_int_distribution<long> delay_us(0, longest_delay.count());
  int named_temporaries_left = 0, renames_seen = 0;
  std::string last = old_file;
  const auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < kills; ++round) {
    SCOPED_TRACE("kill " + std::to_string(round));
    const std::chrono::microseconds delay(delay_us(random));
    std::fflush(nullptr);
    // The writer's first write changes the file, so that a kill during it is a kill
    // during a rename and not during a rewrite of the same bytes.
    const unsigned first = last == old_file ? 0 : 1;
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // The writer's own clock kills it, at the moment chosen for this round.
      if (!arm_kill_timer(delay)) _exit(3);
      for (unsigned i = first;; ++i) {
        if (!profile_store.write_value(path, "address 128", "relay8name",
                                       i % 2 ? "relay8" : "valve")) {
          _exit(1);
        }
      }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "writer stopped itself";

    const std::string now = read_bytes(path);
    ASSERT_TRUE(now == old_file || now == new_file) << "torn file of " << now.size() << " bytes";
    renames_seen += now != last;
    last = now;
    named_temporaries_left += folder.names().size() > 1;
    names.open_or_create();
    ASSERT_EQ(folder.names(), std::vector<std::string>{"name.txt"});
    ASSERT_EQ(read_bytes(path), now);
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  EXPECT_TRUE(messages.shown.empty());
  // Kills that all land before the first rename would prove nothing.
  EXPECT_GT(renames_seen, 0);
  RecordProperty("kills", kills);
  RecordProperty("named_temporaries_left", named_temporaries_left);
  RecordProperty("renames_seen", renames_seen);
  std::cout << kills << " kills during renames, " << renames_seen << " with a new file since the "
            << "last kill, " << named_temporaries_left << " left a named temporary file before "
            << "the start-up clean-up; one write " << one_write.count() << " us, delays up to "
            << longest_delay.count() << " us, " << elapsed.count() << " ms in all\n";
}

// Without /proc the unnamed file cannot be given a name; a named temporary file then
// does the same work.
TEST(DiskFile, WithoutProcTheNamedTemporaryFileKeepsEveryPromise) {
  using std::filesystem::perms;
  TempFolder folder;
  const auto path = folder / "name.txt", created = folder / "created.txt";
  const perms shared = perms::owner_read | perms::owner_write | perms::group_read;
  write_bytes(path, "[address 1]\r\nrelay1name=valve\r\n");
  std::filesystem::permissions(path, shared);
  const int result = run_in_child(ChildRole::without_proc, [&] {
    const bool hidden = !std::filesystem::exists("/proc/self/fd");
    return hidden && !replace_file_atomically(path, "[address 1]\r\nrelay1name=pump\r\n") &&
                   !replace_file_atomically(created, "new")
               ? 0
               : 1;
  });
  if (result == child_role_unavailable) GTEST_SKIP() << "cannot hide /proc without root rights";
  EXPECT_EQ(result, 0);
  EXPECT_EQ(read_bytes(path), "[address 1]\r\nrelay1name=pump\r\n");
  EXPECT_EQ(std::filesystem::status(path).permissions(), shared);
  EXPECT_EQ(read_bytes(created), "new");
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"created.txt", "name.txt"}));
}

#endif  // _WIN32

TEST(DiskFile, OnlyFoldersThatCannotBeSyncedAreNotAFailure) {
  const struct {
    std::errc reason;
    bool cannot_be_synced;
  } cases[] = {
      {std::errc::invalid_argument, true},     {std::errc::read_only_file_system, true},
      {std::errc::not_supported, true},        {std::errc::operation_not_supported, true},
      {std::errc::permission_denied, true},    {std::errc::io_error, false},
      {std::errc::no_space_on_device, false},  {std::errc::no_such_file_or_directory, false},
      {std::errc::bad_file_descriptor, false},
  };
  for (const auto& c : cases) {
    const auto reason = std::make_error_code(c.reason);
    SCOPED_TRACE(reason.message());
    EXPECT_EQ(folder_cannot_be_synced(reason), c.cannot_be_synced);
  }
#ifdef EDQUOT
  EXPECT_FALSE(folder_cannot_be_synced({EDQUOT, std::generic_category()}));
#endif
}

}  // namespace
