#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// QSerialPort keeps a lock file while it holds a device, LCK..<device> in the first
// of the system's lock folders that it may use, with the holder's process number on
// the first line. A program that dies without closing the port (killed, crashed)
// leaves the file behind, and every later open of the device fails as if another
// program held it; where the folder lets only the file's owner remove it (a root-run
// program's file in /run/lock), QSerialPort cannot clear it for the next user.

// A lock file that keeps nobody's line: its process no longer runs, runs another
// program, or does not have the device open; or the file names no process of this
// machine. Anyone may write a file in the lock folders, so a lock is only honoured while
// its process may really hold the line.
struct StaleLock {
  std::string path;   // the file, its folder's links resolved
  long long pid = 0;  // the process it names; 0: none
  bool removed = false;
  std::string program;    // the program that made it, as the file names it
  std::string reused_by;  // the program that now runs as that process; empty: none does
  // Whose it is and why it keeps nothing, after the path: "was left by process 1
  // (systemd), which does not have the device open".
  std::string why;
  bool ended = false;  // its process no longer runs: a crash's leftover
};

// The folders QSerialPort looks at, in its order.
std::vector<std::string> serial_lock_folders();

// Where QSerialPort keeps the device's lock file: in the first of `folders` that can be
// read and either holds the file or can be written. Empty when none will do.
std::string serial_lock_file(const std::string& device,
                             const std::vector<std::string>& folders = serial_lock_folders());

// When the device's lock file is stale, removes it with `remove` (false: not allowed;
// unlink unless a test says otherwise). A lock is honoured while its process runs and,
// where the process table shows that process's open files (this user's processes, or
// any for root), has the device open; where it does not show them (another user's
// process), while the process may be the program that the file names (see
// may_be_program). A file that names no process, or a process of another machine
// (which cannot be asked from here) that does not have the device open here, is stale;
// so is one that names process 1, which never keeps a serial line. Nothing when there
// is no such file or it is honoured. `proc` is the process table's folder, for tests.
std::optional<StaleLock> clear_stale_lock(
    const std::string& device, const std::vector<std::string>& folders = serial_lock_folders(),
    const std::function<bool(const std::string&)>& remove = {}, const std::string& proc = "/proc");

// "relayboard-mqtt (process 1234)" for the program that the device's lock file names,
// when the file is honoured as clear_stale_lock honours it: a user who may not see
// another user's open files can still read who keeps the port. Empty otherwise.
std::string lock_holder_text(const std::string& device,
                             const std::vector<std::string>& folders = serial_lock_folders(),
                             const std::string& proc = "/proc");

// The process number of that program, under the same conditions.
std::optional<long long> lock_holder_pid(
    const std::string& device, const std::vector<std::string>& folders = serial_lock_folders(),
    const std::string& proc = "/proc");

// Why the device's lock file stands in the way when it is no regular file (a FIFO, a
// device, a link: the lock folders are usually writable by every user), which the
// port's own lock would open and wait on for good. Nothing when it is a file or absent.
std::optional<std::string> lock_file_refusal(
    const std::string& device, const std::vector<std::string>& folders = serial_lock_folders());
