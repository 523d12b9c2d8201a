#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>

#include "settings/file_kind_posix.h"
#include "names/disk_file.h"
#include "names/temp_file_names_posix.h"

namespace fs = std::filesystem;

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

// A folder to make and rename files in by name, without a link in the last step of any
// name: the folder's own path is the operator's, the names in it are looked at here.
// It need not be readable (a -wx folder serves).
int open_folder(const fs::path& folder) {
#ifdef O_PATH
  return ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
  return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
}

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

// Gives the unnamed file open as `fd` the first free name that `name_for` gives in the
// folder. Linking the descriptor itself (AT_EMPTY_PATH) needs a privilege the operator
// does not normally have; linking its /proc entry does not. linkat never replaces a
// name, nor follows one.
template <typename NameFor>
bool link_unnamed(int fd, int folder, NameFor name_for, int attempts, std::string& name) {
  const std::string source = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0;; ++attempt) {
    name = name_for(attempt);
    if (::linkat(AT_FDCWD, source.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      return true;
    }
    if (errno != EEXIST || attempt + 1 >= attempts) return false;
  }
}

// A new, empty file with the first free name that `name_for` gives in the folder.
template <typename NameFor>
int create_named(int folder, NameFor name_for, int attempts, mode_t mode, std::string& name) {
  for (int attempt = 0;; ++attempt) {
    name = name_for(attempt);
    const int fd =
        ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST || attempt + 1 >= attempts) return fd;
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

// The new file's owner, group and permissions: those of the file it replaces or backs
// up, when there is one.
struct FileOwnership {
  // Never writable by every user: the trust rule would refuse the file at its next read.
  mode_t mode = 0664;
  std::optional<struct stat> old;
  bool owner_required = true;  // a replace must keep the owner; a backup tries to
};

std::error_code take_ownership(int fd, const FileOwnership& ownership) {
  if (!ownership.old) return {};
  struct stat made {};
  if (::fstat(fd, &made) != 0) return last_error();
  if ((made.st_uid != ownership.old->st_uid || made.st_gid != ownership.old->st_gid) &&
      ::fchown(fd, ownership.old->st_uid, ownership.old->st_gid) != 0 && ownership.owner_required) {
    return errno == EPERM ? make_error_code(FileRefusal::owner_not_kept) : last_error();
  }
  // After the owner: a change of owner clears the set-id bits.
  if (::fchmod(fd, ownership.mode) != 0) return last_error();
  return {};
}

std::error_code fill_new_file(int fd, std::string_view bytes, const FileOwnership& ownership) {
  if (auto error = write_all(fd, bytes)) return error;
  if (auto error = take_ownership(fd, ownership)) return error;
  if (::fsync(fd) != 0) return last_error();
  return {};
}

// A new file with `bytes` under the first free name that `name_for` gives in the
// folder. On Linux the file has no name until it is complete and on disk, so that a
// program killed on the way leaves nothing behind; elsewhere, or where the filesystem
// cannot do that, it is named from the start. On failure nothing is left.
template <typename NameFor>
std::error_code create_new_file(int folder, NameFor name_for, int attempts, std::string_view bytes,
                                const FileOwnership& ownership, std::string& name) {
#ifdef O_TMPFILE
  {
    Descriptor fd(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, ownership.mode));
    if (fd.get() >= 0) {
      if (auto error = fill_new_file(fd.get(), bytes, ownership)) return error;
      if (link_unnamed(fd.get(), folder, name_for, attempts, name)) {
        if (auto error = fd.close()) {
          ::unlinkat(folder, name.c_str(), 0);
          return error;
        }
        return {};
      }
    }
    if (!unnamed_files_unavailable(errno)) return last_error();
  }
#endif
  Descriptor fd(create_named(folder, name_for, attempts, ownership.mode, name));
  if (fd.get() < 0) return last_error();
  std::error_code error = fill_new_file(fd.get(), bytes, ownership);
  if (auto close_error = fd.close(); !error) error = close_error;
  if (error) ::unlinkat(folder, name.c_str(), 0);
  return error;
}

// Makes a rename or a new name durable.
std::error_code sync_folder(const fs::path& folder) {
  // Nothing is written through this descriptor, so its close has nothing to report.
  Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0 && ::fsync(fd.get()) == 0) return {};
  const std::error_code error = last_error();
  return folder_cannot_be_synced(error) ? std::error_code{} : error;
}

// The regular file as it is now in the folder, not following a link.
std::error_code regular_file_in(int folder, const std::string& name, struct stat& info) {
  if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return last_error();
  return refusal_of_kind(info.st_mode);
}

}  // namespace

std::error_code read_whole_file(const fs::path& file, std::string& bytes) {
  bytes.clear();
  fs::path target;
  if (auto error = resolve_regular_file(file, target)) return error;
  int opened = -1;
  if (auto error = open_regular_for_reading(target.c_str(), opened)) return error;
  Descriptor fd(opened);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return last_error();
  const auto size = static_cast<std::size_t>(std::max<off_t>(info.st_size, 0));
  if (size > name_file_byte_limit) return FileRefusal::too_large;
  // One byte more than the size, so that the end is seen without growing the buffer.
  bytes.resize(size > 0 ? size + 1 : 4096);
  std::size_t filled = 0;
  for (;;) {
    if (filled > name_file_byte_limit) {
      bytes.clear();
      return FileRefusal::too_large;
    }
    if (filled == bytes.size()) bytes.resize(std::min(bytes.size() * 2, name_file_byte_limit + 1));
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

std::error_code replace_file_atomically(const fs::path& file, std::string_view bytes) {
  fs::path target;
  const std::error_code refusal = resolve_regular_file(file, target);
  const bool existed = !refusal;
  if (refusal && refusal != std::errc::no_such_file_or_directory) return refusal;
  if (bytes.size() > name_file_byte_limit) return FileRefusal::too_large;
  const fs::path folder_path = temp_file_names::folder_of(target);
  Descriptor folder(open_folder(folder_path));
  if (folder.get() < 0) return last_error();
  const std::string name = target.filename().string();

  FileOwnership ownership;
  if (existed) {
    struct stat old {};
    if (auto error = regular_file_in(folder.get(), name, old)) return error;
    // Renaming needs only the folder's permission: a file the operator made read-only
    // would be replaced all the same.
    if (::faccessat(folder.get(), name.c_str(), W_OK, AT_EACCESS) != 0) return last_error();
    ownership.mode = old.st_mode & 07777;
    ownership.old = old;
  }
  std::string temp;
  const auto temp_name = [&target](int attempt) {
    return temp_file_names::beside(target, attempt).filename().string();
  };
  if (auto error =
          create_new_file(folder.get(), temp_name, temp_name_attempts, bytes, ownership, temp)) {
    return error;
  }
  // The rename replaces whatever has the name now, a link included, and never writes
  // through it.
  if (::renameat(folder.get(), temp.c_str(), folder.get(), name.c_str()) != 0) {
    const std::error_code error = last_error();
    // The failure is reported already; a name that cannot be removed goes at the next
    // start.
    ::unlinkat(folder.get(), temp.c_str(), 0);
    return error;
  }
  return sync_folder(folder_path);
}

std::error_code write_backup(const fs::path& original, std::string_view bytes, fs::path& backup) {
  fs::path target;
  if (auto error = resolve_regular_file(original, target)) return error;
  struct stat old {};
  if (::stat(target.c_str(), &old) != 0) return last_error();
  FileOwnership ownership;
  // Only the permission bits: a backup is no program.
  ownership.mode = old.st_mode & 0777;
  ownership.old = old;
  ownership.owner_required = false;

  const fs::path folder_path = temp_file_names::folder_of(original);
  const std::string base = original.filename().string() + ".bak";
  backup = folder_path / base;
  Descriptor folder(open_folder(folder_path));
  if (folder.get() < 0) return last_error();
  const auto backup_name = [&base](int attempt) {
    return attempt == 0 ? base : base + "." + std::to_string(attempt);
  };
  constexpr int backup_names = 100;
  std::string name;
  if (auto error =
          create_new_file(folder.get(), backup_name, backup_names, bytes, ownership, name)) {
    return error == std::errc::file_exists ? make_error_code(FileRefusal::no_backup_name) : error;
  }
  backup = folder_path / name;
  return sync_folder(folder_path);
}
