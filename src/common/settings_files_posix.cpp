#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/settings_files.h"

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
  return std::string("readable by ") + who + " (mode " + mode + ")";
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

std::optional<std::string> planted_settings_file(std::FILE* file,
                                                 const std::filesystem::path& path) {
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  struct stat folder_info {};
  if (::stat(folder.c_str(), &folder_info) != 0 || (folder_info.st_mode & S_IWOTH) == 0) {
    return std::nullopt;
  }
  struct stat named {};
  if (::lstat(path.c_str(), &named) != 0) return std::string("it went away while it was read");
  if (S_ISLNK(named.st_mode)) {
    return std::string("it is a link in a folder that every user can write");
  }
  const auto owned = [](const struct stat& info) -> std::optional<std::string> {
    if (info.st_uid == ::geteuid() || info.st_uid == 0) return std::nullopt;
    return "it belongs to another user (uid " + std::to_string(info.st_uid) +
           ") in a folder that every user can write";
  };
  if (!file) return owned(named);
  struct stat opened {};
  if (::fstat(::fileno(file), &opened) != 0 || named.st_dev != opened.st_dev ||
      named.st_ino != opened.st_ino) {
    return std::string("it was replaced while it was opened");
  }
  return owned(opened);
}
