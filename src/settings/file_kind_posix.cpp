#include "settings/file_kind_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "settings/file_trust.h"

std::error_code refusal_of_kind(mode_t mode) {
  if (S_ISREG(mode)) return {};
  if (S_ISLNK(mode)) return FileRefusal::link;
  if (S_ISFIFO(mode)) return FileRefusal::fifo;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return FileRefusal::device;
  if (S_ISSOCK(mode)) return FileRefusal::socket;
  if (S_ISDIR(mode)) return FileRefusal::folder;
  return FileRefusal::other_kind;
}

bool trusted_owner(uid_t owner) {
  return owner == ::geteuid() || owner == 0;
}

std::error_code open_regular_for_reading(const char* path, int& fd) {
  fd = -1;
  // Opening a device can act on it (a serial line's modem lines change), and opening a
  // FIFO without O_NONBLOCK waits for a writer that may never come: look first.
  struct stat seen {};
  if (::lstat(path, &seen) != 0) return {errno, std::generic_category()};
  if (auto refusal = refusal_of_kind(seen.st_mode)) return refusal;
  // Whatever took the name's place since is caught by the open or by the check after it.
  const int opened = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (opened < 0) {
    if (errno == ELOOP) return FileRefusal::link;
    return {errno, std::generic_category()};
  }
  struct stat info {};
  std::error_code error;
  if (::fstat(opened, &info) != 0) {
    error = {errno, std::generic_category()};
  } else {
    error = refusal_of_kind(info.st_mode);
  }
  if (error) {
    ::close(opened);
    return error;
  }
  fd = opened;
  return {};
}
