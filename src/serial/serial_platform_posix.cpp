#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "serial/serial_platform.h"

namespace {

std::string group_name(gid_t gid) {
  std::vector<char> buffer(4096);
  group entry{};
  group* found = nullptr;
  int error = 0;
  // The entry lists every member, so a large group needs more room than usual.
  while ((error = getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
         buffer.size() < (std::size_t{1} << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (error != 0 || !found) return {};
  return found->gr_name;
}

bool process_has_group(gid_t gid) {
  if (getegid() == gid) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int filled = getgroups(count, groups.data());
  return filled > 0 && std::find(groups.begin(), groups.begin() + filled, gid) != groups.end();
}

bool user_listed_in_group(gid_t gid) {
  std::vector<char> buffer(4096);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return false;
  }
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) return false;
  }
  return std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

}  // namespace

DeviceAccess probe_device_access(const std::string& path) {
  DeviceAccess access;
  char target[PATH_MAX];
  const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
  if (length > 0) access.link_target.assign(target, static_cast<std::size_t>(length));

  struct stat info {};
  access.exists = stat(path.c_str(), &info) == 0;
  if (!access.exists) return access;
  access.read_write = faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) == 0;
  access.group = group_name(info.st_gid);
  access.group_read_write = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  access.in_group = process_has_group(info.st_gid);
  access.listed_in_group = user_listed_in_group(info.st_gid);
  return access;
}

std::string device_node(const std::string& path) {
  std::error_code error;
  const auto node = std::filesystem::canonical(path, error);
  return error ? path : node.string();
}

bool device_present(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool lock_line(std::intptr_t handle) {
  // A lock on the open device, not a lock file: root ignores the line's exclusive mode,
  // and a lock file is named after one of the device's names.
  while (::flock(static_cast<int>(handle), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    // Only another holder refuses the port; a device that takes no locks at all is
    // used as before.
    return errno != EWOULDBLOCK;
  }
  return true;
}

LineState line_state(std::intptr_t handle) {
  pollfd line{static_cast<int>(handle), POLLIN, 0};
  const int ready = ::poll(&line, 1, 0);
  if (ready == 0) return LineState::Quiet;
  if (ready < 0) return LineState::Readable;  // let the read itself tell what is wrong
  if (line.revents & (POLLHUP | POLLERR | POLLNVAL)) return LineState::HungUp;
  return LineState::Readable;
}

bool device_gone(std::intptr_t handle, const std::string& path) {
  const int fd = static_cast<int>(handle);
  if (line_state(handle) == LineState::HungUp) return true;
  struct stat open_device {};
  if (::fstat(fd, &open_device) != 0) return true;
  int waiting = 0;
  if (::ioctl(fd, FIONREAD, &waiting) != 0 && (errno == EIO || errno == ENXIO || errno == ENODEV)) {
    return true;
  }
  struct stat named_device {};
  if (::stat(path.c_str(), &named_device) != 0) return errno == ENOENT || errno == ENOTDIR;
  return named_device.st_rdev != open_device.st_rdev;
}

std::size_t write_line(std::intptr_t handle, std::span<const std::uint8_t> bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t count =
        ::write(static_cast<int>(handle), bytes.data() + written, bytes.size() - written);
    if (count > 0) {
      written += static_cast<std::size_t>(count);
    } else if (count < 0 && errno != EINTR) {
      break;  // a full output queue or a failing line: the caller's writer takes the rest
    }
  }
  return written;
}

LineRead read_line(std::intptr_t handle, std::span<std::uint8_t> into) {
  while (true) {
    const ssize_t count = ::read(static_cast<int>(handle), into.data(), into.size());
    if (count > 0) return {LineState::Readable, static_cast<std::size_t>(count)};
    if (count < 0 && errno == EINTR) continue;
    // The line is opened without blocking: nothing there is no failure.
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return {LineState::Quiet, 0};
    return {LineState::HungUp, 0};
  }
}
