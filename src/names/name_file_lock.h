#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <system_error>

// The lock that every writer of a name file (the panel, relayctl, a second panel) holds
// around its read-modify-write, so that a rename is never undone by a writer that read
// the file before it. The name file cannot carry the lock itself, since each write
// replaces it by a new file: the lock is on `<file>.lock` beside it, created when
// missing and never removed. Readers need none, since every write replaces the file
// whole. Held for the few milliseconds of one write, and released at once.
class NameFileLock {
 public:
  // How long a writer waits for another to finish before it gives up: a write takes
  // milliseconds, so only a program stuck while holding the lock lasts this long.
  static constexpr std::chrono::milliseconds default_patience{5000};

  // Takes the lock of `file`, waiting up to `patience`. A folder that cannot hold the
  // lock file (read-only, missing) has nothing to lock either: the lock is then not
  // held, without an error, and a write there fails with its own reason.
  NameFileLock(const std::filesystem::path& file, std::chrono::milliseconds patience);
  ~NameFileLock();
  NameFileLock(const NameFileLock&) = delete;
  NameFileLock& operator=(const NameFileLock&) = delete;

  bool held() const { return held_; }
  // Another writer held the lock for the whole wait.
  bool busy() const { return busy_; }
  // Why the lock file could not be opened or locked (the system's reason).
  const std::error_code& error() const { return error_; }
  // Whether the write may go on: the lock is held, or there is nothing to lock.
  bool may_write() const { return held_ || (!busy_ && !error_); }

  // `<file>.lock`, beside the path given: a name file that is a link has its lock
  // beside the link, where the operator put it, never beside the file it points to.
  static std::filesystem::path lock_file(const std::filesystem::path& file);

 private:
  std::intptr_t handle_ = -1;
  bool held_ = false;
  bool busy_ = false;
  std::error_code error_;
};
