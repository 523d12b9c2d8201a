#include <sys/stat.h>

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
