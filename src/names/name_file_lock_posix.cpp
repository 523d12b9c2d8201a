#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "names/name_file_lock.h"

namespace {

// Failures that say the folder cannot hold a new file, where the write that follows
// fails all the same and tells the operator its own reason.
bool folder_not_writable(int error) {
  return error == EACCES || error == EPERM || error == EROFS || error == ENOENT || error == ENOTDIR;
}

// Read access is all that a lock needs, so a lock file that another user created
// serves everyone who may write the name file. An existing file is opened without
// O_CREAT, which a world-writable sticky folder refuses for another user's file.
int open_lock_file(const std::filesystem::path& lock_file) {
  const int fd = ::open(lock_file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0 || errno != ENOENT) return fd;
  return ::open(lock_file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
}

}  // namespace

std::filesystem::path NameFileLock::lock_file(const std::filesystem::path& file) {
  std::error_code error;
  std::filesystem::path target = file;
  if (std::filesystem::is_symlink(file, error)) {
    auto real = std::filesystem::canonical(file, error);
    if (!error) target = std::move(real);
  }
  target += ".lock";
  return target;
}

NameFileLock::NameFileLock(const std::filesystem::path& file, std::chrono::milliseconds patience) {
  const int fd = open_lock_file(lock_file(file));
  if (fd < 0) {
    if (!folder_not_writable(errno)) error_ = {errno, std::generic_category()};
    return;
  }
  handle_ = fd;
  // flock belongs to the open file, so that a process killed while holding it lets go
  // at once; waiting in short steps keeps the wait bounded.
  const auto deadline = std::chrono::steady_clock::now() + patience;
  std::chrono::milliseconds pause{1};
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      held_ = true;
      return;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      error_ = {errno, std::generic_category()};
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      busy_ = true;
      return;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds{20});
  }
}

// Closing the descriptor releases the lock.
NameFileLock::~NameFileLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}
