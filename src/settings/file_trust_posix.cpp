#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "settings/file_kind_posix.h"
#include "settings/file_trust.h"

namespace fs = std::filesystem;

namespace {

std::error_code last_error() {
  return {errno, std::generic_category()};
}

// How many links in a row are followed at most, as the system itself does.
constexpr int link_hops = 40;

}  // namespace

std::error_code refusal_of_standing(const struct stat& file, const fs::path& folder, FileUse use) {
  if (use == FileUse::content && (file.st_mode & S_IWOTH)) return FileRefusal::writable_by_others;
  if (trusted_owner(file.st_uid)) return {};
  struct stat around {};
  if (::stat(folder.c_str(), &around) != 0) return last_error();
  // The folder's owner could replace the file anyway: a service's own folder serves
  // its administrator's tools.
  if (file.st_uid == around.st_uid) return {};
  // A folder shared through a group: its members are trusted with each other's files.
  const bool group_shared = (around.st_mode & S_IWGRP) != 0 && (around.st_mode & S_IWOTH) == 0;
  if (group_shared && file.st_gid == around.st_gid) return {};
  return FileRefusal::other_owner;
}

std::error_code resolve_regular_file(const fs::path& file, fs::path& target, FileUse use) {
  target = file;
  for (int hop = 0;; ++hop) {
    struct stat seen {};
    if (::lstat(target.c_str(), &seen) != 0) {
      if (errno == ENOENT && hop > 0) return FileRefusal::dangling_link;
      return last_error();
    }
    if (!S_ISLNK(seen.st_mode)) {
      if (auto refusal = refusal_of_kind(seen.st_mode)) return refusal;
      if (hop > 0 && !trusted_owner(seen.st_uid)) return FileRefusal::link_target_owner;
      return refusal_of_standing(seen, containing_folder(target), use);
    }
    if (hop == link_hops) return {ELOOP, std::generic_category()};
    // Each link of the way must be one that no other user could have planted.
    if (!trusted_owner(seen.st_uid)) return FileRefusal::link_owner;
    const fs::path folder = containing_folder(target);
    struct stat folder_info {};
    if (::stat(folder.c_str(), &folder_info) != 0) return last_error();
    if (folder_info.st_mode & S_IWOTH) return FileRefusal::link_in_shared_folder;
    std::error_code error;
    const fs::path points_to = fs::read_symlink(target, error);
    if (error) return error;
    target = points_to.is_absolute() ? points_to : folder / points_to;
  }
}

std::error_code read_trusted_bytes(const fs::path& path, std::size_t limit, std::string& text) {
  text.clear();
  fs::path target;
  if (auto error = resolve_regular_file(path, target)) return error;
  int fd = -1;
  if (auto error = open_regular_for_reading(target.c_str(), fd)) return error;
  // What was opened is judged again: the name may have been given to another file since.
  struct stat opened {};
  std::error_code error;
  if (::fstat(fd, &opened) != 0) {
    error = last_error();
  } else {
    error = refusal_of_standing(opened, containing_folder(target), FileUse::content);
  }
  char buffer[4096];
  while (!error && text.size() <= limit) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) error = last_error();
    if (count <= 0) break;
    text.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(fd);
  return error;
}
