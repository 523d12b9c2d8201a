#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "settings/settings_files.h"

std::optional<std::string> secret_file_exposure(const std::filesystem::path& path) {
  struct stat info {};
  // A file that cannot be looked at is refused by the read that follows, with its reason.
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  const char* who = nullptr;
  if (info.st_mode & S_IROTH) {
    who = "others";
  } else if ((info.st_mode & S_IRGRP) && info.st_uid != 0) {
    who = "its group";
  }
  if (!who) return std::nullopt;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  return std::string("readable by ") + who + " (mode " + mode +
         "); let only its owner read it (chmod 600)";
}

std::FILE* open_settings_file(const std::filesystem::path& path) {
  // Without O_NONBLOCK a FIFO planted under the name would hold the program at the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "rb");
  if (!file) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return file;
}
