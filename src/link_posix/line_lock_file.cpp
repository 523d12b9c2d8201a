#include "link_posix/line_lock_file.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "link_system/serial_lock_file.h"

namespace {

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
  std::string text = std::to_string(::getpid());
  text.append("\n").append(name).append("\n").append(host).append("\n");
  return text;
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
