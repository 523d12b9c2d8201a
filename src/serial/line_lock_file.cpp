#include "serial/line_lock_file.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "serial/serial_lock_file.h"

namespace {

// The first line of a small system file, without its line end; empty when unreadable.
std::string first_line(const char* path) {
  char text[128] = {};
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  const ssize_t length = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  const std::string line(text, static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
  return line.substr(0, line.find('\n'));
}

// Process number, program, machine name, machine id and boot id, one a line: the
// machine and boot ids let a Qt program take a lock from before a reboot for stale.
std::string lock_text() {
  char host[HOST_NAME_MAX + 1] = {};
  if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  char program[PATH_MAX] = {};
  const ssize_t length = ::readlink("/proc/self/exe", program, sizeof program - 1);
  const std::string name =
      length > 0 ? std::filesystem::path(std::string(program, static_cast<std::size_t>(length)))
                       .filename()
                       .string()
                 : std::string();
  std::string machine = first_line("/etc/machine-id");
  if (machine.empty()) machine = first_line("/var/lib/dbus/machine-id");
  std::string text = std::to_string(::getpid());
  text.append("\n").append(name).append("\n").append(host).append("\n");
  text.append(machine).append("\n").append(first_line("/proc/sys/kernel/random/boot_id"));
  return text.append("\n");
}

}  // namespace

LineLockFile::Outcome LineLockFile::take(const std::string& device_node) {
  release();
  const std::string path = serial_lock_file(device_node);
  if (path.empty()) return Outcome::taken;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? Outcome::held : Outcome::failed;
  const std::string text = lock_text();
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int error = errno;
  ::close(fd);
  if (!written) {
    ::unlink(path.c_str());
    errno = error;
    return Outcome::failed;
  }
  path_ = path;
  return Outcome::taken;
}

void LineLockFile::release() {
  if (path_.empty()) return;
  ::unlink(path_.c_str());
  path_.clear();
}
