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

#include "link_system/device_holders.h"
#include "link_system/serial_lock_file.h"

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

// The lock file's first lines, read without following a link or waiting on anything.
std::optional<LockText> read_lock_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::string bytes(512, '\0');
  ssize_t count = -1;
  if (::fstat(fd, &info) == 0 && !odd_kind(info)) count = ::read(fd, bytes.data(), bytes.size());
  ::close(fd);
  if (count <= 0) return std::nullopt;
  bytes.resize(static_cast<std::size_t>(count));
  std::istringstream file(bytes);
  std::string pid_line;
  LockText text;
  if (!std::getline(file, pid_line)) return std::nullopt;
  std::getline(file, text.program);
  std::getline(file, text.host);
  const auto [end, error] =
      std::from_chars(pid_line.data(), pid_line.data() + pid_line.size(), text.pid);
  if (error != std::errc{} || end != pid_line.data() + pid_line.size() || text.pid <= 0) {
    return std::nullopt;
  }
  return text;
}

// Whether the maker of the lock still runs: its process exists and, where the lock
// names the program, the process is that program and not a later one given the number.
bool maker_runs(const LockText& text, const std::string& proc) {
  if (process_gone(text.pid)) return false;
  return text.program.empty() || may_be_program(text.pid, text.program, proc);
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
  const std::string path = serial_lock_file(device, folders);
  if (path.empty()) return std::nullopt;
  const auto text = read_lock_file(path);
  if (!text || (!text->host.empty() && text->host != host_name())) return std::nullopt;
  if (maker_runs(*text, proc)) return std::nullopt;

  std::error_code ignored;
  const auto shown = std::filesystem::weakly_canonical(path, ignored);
  StaleLock lock{shown.empty() ? path : shown.string(), text->pid, false, text->program, {}};
  if (!process_gone(text->pid)) {
    lock.reused_by = process_name(text->pid, proc);
    if (lock.reused_by.empty()) lock.reused_by = "another program";
  }
  lock.removed = remove ? remove(path) : unlink_file(path);
  return lock;
}

namespace {

// The lock file's text when its maker, another process on this machine, still runs.
std::optional<LockText> running_holder(const std::string& device,
                                       const std::vector<std::string>& folders,
                                       const std::string& proc) {
  const std::string path = serial_lock_file(device, folders);
  const auto text = path.empty() ? std::nullopt : read_lock_file(path);
  if (!text || (!text->host.empty() && text->host != host_name())) return std::nullopt;
  // As among the open files, the asking process is not the other program.
  if (text->pid == ::getpid() || !maker_runs(*text, proc)) return std::nullopt;
  return text;
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
