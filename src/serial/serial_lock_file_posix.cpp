#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "serial/device_holders.h"
#include "serial/serial_lock_file.h"

namespace {

// "/dev/ttyUSB0" -> "LCK..ttyUSB0", "/dev/pts/3" -> "LCK..pts_3", as QSerialPort names it.
std::string lock_file_name(const std::string& device) {
  std::string name = device.starts_with("/dev/") ? device.substr(5) : device;
  std::replace(name.begin(), name.end(), '/', '_');
  return "LCK.." + name;
}

std::string host_name() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

// A process that cannot be signalled for lack of rights still runs.
bool process_gone(long long pid) {
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

bool unlink_file(const std::string& path) {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

// The holder's process number, its program and its machine, one a line.
struct LockText {
  long long pid = 0;
  std::string program;
  std::string host;
};

// What `path` is when it is no regular file: a FIFO or a device there (the lock
// folders are usually writable by every user) would hold up whoever opens it.
std::optional<std::string> odd_kind(const struct stat& info) {
  if (S_ISREG(info.st_mode)) return std::nullopt;
  if (S_ISLNK(info.st_mode)) return "a symbolic link";
  if (S_ISFIFO(info.st_mode)) return "a FIFO";
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "a device";
  if (S_ISDIR(info.st_mode)) return "a folder";
  return "not a regular file";
}

// The lock file's first lines, read without following a link or waiting on anything;
// nothing when it cannot be read. A text that names no process has pid 0.
std::optional<LockText> read_lock_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::string bytes(512, '\0');
  ssize_t count = -1;
  if (::fstat(fd, &info) == 0 && !odd_kind(info)) count = ::read(fd, bytes.data(), bytes.size());
  ::close(fd);
  if (count < 0) return std::nullopt;
  bytes.resize(static_cast<std::size_t>(count));
  std::istringstream file(bytes);
  std::string pid_line;
  LockText text;
  std::getline(file, pid_line);
  std::getline(file, text.program);
  std::getline(file, text.host);
  // The Qt programs write the number alone; the UUCP programs pad it to ten places, and
  // minicom adds its name and its user on the same line.
  std::istringstream first(pid_line);
  std::string number, program;
  first >> number >> program;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), text.pid);
  if (error != std::errc{} || end != number.data() + number.size() || text.pid <= 0) {
    text.pid = 0;
  }
  if (text.program.empty()) text.program = program;
  return text;
}

// Whether the lock is honoured, and for a stale one why not.
struct Verdict {
  bool honoured = false;
  std::string why;        // see StaleLock
  std::string reused_by;  // see StaleLock
  bool ended = false;     // see StaleLock
};

Verdict judge(const LockText& text, const std::string& device, const std::string& proc) {
  if (text.pid == 0) return {false, "names no process", {}};
  const std::string process = "process " + std::to_string(text.pid);
  const std::string named = text.program.empty() ? process : process + " (" + text.program + ")";
  if (process_gone(text.pid)) {
    return {false, "was left by " + process + ", which no longer runs", {}, true};
  }
  const auto holds = process_has_open(text.pid, device, proc);
  if (holds && *holds) return {true, {}, {}};
  std::string now = process_name(text.pid, proc);
  if (!text.host.empty() && text.host != host_name()) {
    return {false,
            "was left by " + process + " on another machine, " + text.host +
                ", which cannot be asked from here",
            {}};
  }
  if (holds) {
    const std::string shown =
        now.empty() || now == text.program ? named : process + " (" + now + ")";
    return {false, "was left by " + shown + ", which does not have the device open", {}};
  }
  // Another user's process, whose open files are hidden: its name is all there is.
  if (text.pid == 1) {
    return {false, "names process 1, the system's first, which keeps no serial line", {}};
  }
  if (text.program.empty() || may_be_program(text.pid, text.program, proc)) return {true, {}, {}};
  if (now.empty()) now = "another program";
  return {false,
          "was left by " + named + ", which no longer runs: the number now belongs to " + now, now};
}

// The lock file's text and what it is worth, when there is a file to judge.
struct JudgedLock {
  std::string path;
  LockText text;
  Verdict verdict;
};

std::optional<JudgedLock> judged_lock(const std::string& device,
                                      const std::vector<std::string>& folders,
                                      const std::string& proc) {
  const std::string path = serial_lock_file(device, folders);
  const auto text = path.empty() ? std::nullopt : read_lock_file(path);
  if (!text) return std::nullopt;
  return JudgedLock{path, *text, judge(*text, device, proc)};
}

}  // namespace

std::vector<std::string> serial_lock_folders() {
  const char* temp = std::getenv("TMPDIR");
  return {"/var/lock",         "/etc/locks", "/var/spool/locks",
          "/var/spool/uucp",   "/tmp",       "/var/tmp",
          "/var/lock/lockdev", "/run/lock",  temp && *temp ? temp : "/tmp"};
}

std::string serial_lock_file(const std::string& device, const std::vector<std::string>& folders) {
  const std::string name = lock_file_name(device);
  for (const auto& folder : folders) {
    const std::string candidate = folder + "/" + name;
    if (::access(folder.c_str(), R_OK) != 0) continue;
    if (::access(candidate.c_str(), F_OK) == 0 || ::access(folder.c_str(), W_OK) == 0) {
      return candidate;
    }
  }
  return {};
}

std::optional<StaleLock> clear_stale_lock(const std::string& device,
                                          const std::vector<std::string>& folders,
                                          const std::function<bool(const std::string&)>& remove,
                                          const std::string& proc) {
  const auto lock = judged_lock(device, folders, proc);
  if (!lock || lock->verdict.honoured) return std::nullopt;
  std::error_code ignored;
  const auto shown = std::filesystem::weakly_canonical(lock->path, ignored);
  StaleLock stale{shown.empty() ? lock->path : shown.string(),
                  lock->text.pid,
                  false,
                  lock->text.program,
                  lock->verdict.reused_by,
                  lock->verdict.why,
                  lock->verdict.ended};
  stale.removed = remove ? remove(lock->path) : unlink_file(lock->path);
  return stale;
}

namespace {

// The lock file's text when it is honoured and its maker is another process.
std::optional<LockText> running_holder(const std::string& device,
                                       const std::vector<std::string>& folders,
                                       const std::string& proc) {
  const auto lock = judged_lock(device, folders, proc);
  // As among the open files, the asking process is not the other program.
  if (!lock || !lock->verdict.honoured || lock->text.pid == ::getpid()) return std::nullopt;
  return lock->text;
}

}  // namespace

std::optional<long long> lock_holder_pid(const std::string& device,
                                         const std::vector<std::string>& folders,
                                         const std::string& proc) {
  const auto text = running_holder(device, folders, proc);
  return text ? std::optional(text->pid) : std::nullopt;
}

std::string lock_holder_text(const std::string& device, const std::vector<std::string>& folders,
                             const std::string& proc) {
  const auto text = running_holder(device, folders, proc);
  if (!text) return {};
  std::string name = process_name(text->pid, proc);
  if (name.empty()) name = text->program.empty() ? "a program" : text->program;
  return name + " (process " + std::to_string(text->pid) + ")";
}

std::optional<std::string> lock_file_refusal(const std::string& device,
                                             const std::vector<std::string>& folders) {
  const std::string path = serial_lock_file(device, folders);
  struct stat info {};
  if (path.empty() || ::lstat(path.c_str(), &info) != 0) return std::nullopt;
  const auto kind = odd_kind(info);
  if (!kind) return std::nullopt;
  return "its lock file " + path + " is " + *kind +
         ", not a file that a serial program makes; whoever put it there can remove it";
}
