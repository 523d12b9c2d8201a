#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "link_qt/serial_lock_file.h"

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
                                          const std::function<bool(const std::string&)>& remove) {
  const std::string path = serial_lock_file(device, folders);
  if (path.empty()) return std::nullopt;

  // The holder's process number, its program and its machine, one a line.
  std::ifstream file(path);
  std::string pid_line, program_line, host_line;
  if (!std::getline(file, pid_line)) return std::nullopt;
  std::getline(file, program_line);
  std::getline(file, host_line);
  long long pid = 0;
  const auto [end, error] =
      std::from_chars(pid_line.data(), pid_line.data() + pid_line.size(), pid);
  if (error != std::errc{} || end != pid_line.data() + pid_line.size() || pid <= 0) {
    return std::nullopt;
  }
  if (!host_line.empty() && host_line != host_name()) return std::nullopt;
  if (!process_gone(pid)) return std::nullopt;

  std::error_code ignored;
  const auto shown = std::filesystem::weakly_canonical(path, ignored);
  StaleLock lock{shown.empty() ? path : shown.string(), pid, false};
  lock.removed = remove ? remove(path) : unlink_file(path);
  return lock;
}
