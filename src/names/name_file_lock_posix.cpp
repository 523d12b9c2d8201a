#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "settings/file_kind_posix.h"
#include "names/name_file_lock.h"

namespace {

// Failures that say the folder cannot hold a new file, where the write that follows
// fails all the same and tells the operator its own reason.
bool folder_not_writable(int error) {
  return error == EACCES || error == EPERM || error == EROFS || error == ENOENT || error == ENOTDIR;
}

// A lock file that another user planted could be held by them for good, keeping every
// rename out: it is used only when the trust rule allows (its content is never read, so
// one that every user may write serves).
std::error_code judge_open_lock(const std::filesystem::path& lock_file, int& fd) {
  struct stat info {};
  std::error_code error;
  if (::fstat(fd, &info) != 0) {
    error = {errno, std::generic_category()};
  } else {
    error = refusal_of_standing(info, containing_folder(lock_file), FileUse::lock);
  }
  if (error) {
    ::close(fd);
    fd = -1;
  }
  return error;
}

// Read access is all that a lock needs, so a lock file that another user created
// serves everyone who may write the name file. An existing file is opened without
// O_CREAT, which a world-writable sticky folder refuses for another user's file; a new
// one is made new (O_EXCL), never through a link planted under its name. Only a regular
// file is locked: a FIFO or a device put in its place would hold every writer up.
std::error_code open_lock_file(const std::filesystem::path& lock_file, int& fd) {
  // Two tries: another program may make the file between the look and the creation.
  for (int attempt = 0;; ++attempt) {
    const std::error_code error = open_regular_for_reading(lock_file.c_str(), fd);
    if (!error) return judge_open_lock(lock_file, fd);
    if (error != std::errc::no_such_file_or_directory || attempt == 1) return error;
    fd = ::open(lock_file.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) return {};
    if (errno != EEXIST) return {errno, std::generic_category()};
  }
}

}  // namespace

std::filesystem::path NameFileLock::lock_file(const std::filesystem::path& file) {
  std::filesystem::path lock = file;
  lock += ".lock";
  return lock;
}

NameFileLock::NameFileLock(const std::filesystem::path& file, std::chrono::milliseconds patience) {
  int fd = -1;
  if (const auto error = open_lock_file(lock_file(file), fd)) {
    if (error.category() != std::generic_category() || !folder_not_writable(error.value())) {
      error_ = error;
    }
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
