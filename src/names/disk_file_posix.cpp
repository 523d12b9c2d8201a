#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

#include "names/disk_file.h"
#include "names/temp_file_names_posix.h"

namespace {

std::error_code last_error() {
  return {errno, std::generic_category()};
}

// A descriptor that is closed on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now, so that a failing close is seen (a full disk may only show up here).
  std::error_code close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? std::error_code{} : last_error();
  }

 private:
  int fd_;
};

std::error_code write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return last_error();
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

// How many names a write tries before it gives up: a name is only taken by a leftover
// of an earlier process that had the same id.
constexpr int temp_name_attempts = 100;

// A new, empty file beside `target` that nothing else uses.
int create_temp_beside(const std::filesystem::path& target, std::filesystem::path& temp,
                       mode_t mode) {
  for (int attempt = 0;; ++attempt) {
    temp = temp_file_names::beside(target, attempt);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST || attempt + 1 >= temp_name_attempts) return fd;
  }
}

// Gives the unnamed file open as `fd` a free name beside `target`. Linking the
// descriptor itself (AT_EMPTY_PATH) needs a privilege the operator does not normally
// have; linking its /proc entry does not.
bool link_temp_beside(int fd, const std::filesystem::path& target, std::filesystem::path& temp) {
  const std::string source = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0;; ++attempt) {
    temp = temp_file_names::beside(target, attempt);
    if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      return true;
    }
    if (errno != EEXIST || attempt + 1 >= temp_name_attempts) return false;
  }
}

// Whether a failure only says that unnamed files cannot be used here, so that a named
// temporary file must do. Any real trouble (no permission, disk full) then shows up
// again, and is reported, on that way.
bool unnamed_files_unavailable(int error) {
  switch (error) {
    case EISDIR:  // a kernel older than unnamed files opens the folder itself
    case ENOENT:  // the same on a missing folder; or no /proc to name the file through
    case EOPNOTSUPP:
    case EINVAL:  // the filesystem has no unnamed files
    case EPERM:   // or no links
      return true;
    default:
      return false;
  }
}

std::error_code write_temp_file(int fd, std::string_view bytes, mode_t mode, bool keep_mode) {
  if (auto error = write_all(fd, bytes)) return error;
  if (keep_mode && ::fchmod(fd, mode) != 0) return last_error();
  if (::fsync(fd) != 0) return last_error();
  return {};
}

// Writes the new file without a name and names it only once it is complete and on
// disk, just before the rename: a program killed on the way leaves nothing behind.
// Nothing when this system or filesystem cannot do that.
std::optional<std::error_code> replace_through_unnamed_file(const std::filesystem::path& target,
                                                            std::string_view bytes, mode_t mode,
                                                            bool keep_mode) {
#ifdef O_TMPFILE
  Descriptor fd(
      ::open(temp_file_names::folder_of(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  if (fd.get() < 0) {
    if (unnamed_files_unavailable(errno)) return std::nullopt;
    return last_error();
  }
  if (auto error = write_temp_file(fd.get(), bytes, mode, keep_mode)) return error;
  std::filesystem::path temp;
  if (!link_temp_beside(fd.get(), target, temp)) {
    if (unnamed_files_unavailable(errno)) return std::nullopt;
    return last_error();
  }
  std::error_code error = fd.close();
  if (!error && ::rename(temp.c_str(), target.c_str()) != 0) error = last_error();
  // The failure is reported already; a name that cannot be removed either goes at the
  // next start.
  if (error) ::unlink(temp.c_str());
  return error;
#else
  (void)target, (void)bytes, (void)mode, (void)keep_mode;
  return std::nullopt;
#endif
}

// The same through a file named from the start, which a program killed while writing
// leaves behind until the next start removes it.
std::error_code replace_through_named_file(const std::filesystem::path& target,
                                           std::string_view bytes, mode_t mode, bool keep_mode) {
  std::filesystem::path temp;
  Descriptor fd(create_temp_beside(target, temp, mode));
  if (fd.get() < 0) return last_error();
  std::error_code error = write_temp_file(fd.get(), bytes, mode, keep_mode);
  if (auto close_error = fd.close(); !error) error = close_error;
  if (!error && ::rename(temp.c_str(), target.c_str()) != 0) error = last_error();
  if (error) ::unlink(temp.c_str());
  return error;
}

// Makes the rename itself durable.
std::error_code sync_folder(const std::filesystem::path& folder) {
  // Nothing is written through this descriptor, so its close has nothing to report.
  Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0 && ::fsync(fd.get()) == 0) return {};
  const std::error_code error = last_error();
  return folder_cannot_be_synced(error) ? std::error_code{} : error;
}

}  // namespace

std::error_code read_whole_file(const std::filesystem::path& file, std::string& bytes) {
  Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return last_error();
  struct stat info {};
  const bool sized = ::fstat(fd.get(), &info) == 0 && info.st_size > 0;
  // One byte more than the size, so that the end is seen without growing the buffer.
  bytes.resize(sized ? static_cast<std::size_t>(info.st_size) + 1 : 4096);
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) bytes.resize(bytes.size() * 2);
    const ssize_t count = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
    if (count < 0) {
      if (errno == EINTR) continue;
      const std::error_code error = last_error();
      bytes.clear();
      return error;
    }
    if (count == 0) break;
    filled += static_cast<std::size_t>(count);
  }
  bytes.resize(filled);
  return {};
}

std::error_code replace_file_atomically(const std::filesystem::path& file, std::string_view bytes) {
  const std::filesystem::path target = temp_file_names::real_file(file);
  struct stat old {};
  const bool existed = ::stat(target.c_str(), &old) == 0;
  // A path the system cannot even look at would fail the write anyway; say why now.
  if (!existed && errno != ENOENT) return last_error();
  // Renaming needs only the folder's permission: a file the operator made read-only
  // would be replaced all the same.
  if (existed && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    return last_error();
  }
  const mode_t mode = existed ? (old.st_mode & 07777) : 0666;

  const auto unnamed = replace_through_unnamed_file(target, bytes, mode, existed);
  if (const auto error =
          unnamed ? *unnamed : replace_through_named_file(target, bytes, mode, existed)) {
    return error;
  }
  return sync_folder(temp_file_names::folder_of(target));
}
