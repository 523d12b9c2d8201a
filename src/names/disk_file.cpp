#include "names/disk_file.h"

bool folder_cannot_be_synced(const std::error_code& reason) {
  // Some filesystems (network, FUSE, read-only mounts) have no way to flush a folder
  // and say so; a folder the operator may write to but not read (-wx) cannot be opened
  // for it. The rename went through all the same and reaches the disk in the system's
  // own time: nothing the operator could do would make it safer.
  return reason == std::errc::invalid_argument || reason == std::errc::read_only_file_system ||
         reason == std::errc::not_supported || reason == std::errc::operation_not_supported ||
         reason == std::errc::permission_denied;
}

#ifdef _WIN32

#include <windows.h>

#include <algorithm>

namespace {

std::error_code last_error() {
  return {static_cast<int>(GetLastError()), std::system_category()};
}

// Another program may rename, replace or delete the file while it is read here.
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Writes all of the bytes through `handle`.
std::error_code write_all(HANDLE handle, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + done, chunk, &written, nullptr)) return last_error();
    done += written;
  }
  return {};
}

// Windows refuses to rename over a file that another program holds open, however it
// shares it (an editor, a viewer, a backup). When that program lets others write, the
// new text is written into the file itself instead, flushed to disk; it stays complete
// in the temporary file until then. When it does not, the write fails as a sharing
// violation and the file is left as it was.
std::error_code rewrite_in_place(const std::filesystem::path& file, std::string_view bytes) {
  const HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, share_all, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  std::error_code error = write_all(handle, bytes);
  if (!error && !SetEndOfFile(handle)) error = last_error();
  if (!error && !FlushFileBuffers(handle)) error = last_error();
  CloseHandle(handle);
  return error;
}

}  // namespace

std::error_code read_whole_file(const std::filesystem::path& file, std::string& bytes) {
  const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  // One read of the whole file: each read is a round trip to the system, and under
  // Wine a costly one. One byte more than the size, so that the end is seen at once.
  LARGE_INTEGER size{};
  const bool sized = GetFileSizeEx(handle, &size) && size.QuadPart > 0;
  bytes.resize(sized ? static_cast<std::size_t>(size.QuadPart) + 1 : 65536);
  std::size_t filled = 0;
  std::error_code error;
  for (;;) {
    if (filled == bytes.size()) bytes.resize(bytes.size() * 2);
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - filled, 1 << 30));
    DWORD count = 0;
    if (!ReadFile(handle, bytes.data() + filled, wanted, &count, nullptr)) {
      error = last_error();
      break;
    }
    if (count == 0) break;
    filled += count;
  }
  CloseHandle(handle);
  bytes.resize(error ? 0 : filled);
  return error;
}

std::error_code replace_file_atomically(const std::filesystem::path& file, std::string_view bytes) {
  // A file the operator made read-only is left alone, as every Windows program leaves
  // it; a rename would replace it all the same on some systems.
  const DWORD attributes = GetFileAttributesW(file.c_str());
  const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
  if (existed && (attributes & FILE_ATTRIBUTE_READONLY) &&
      !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return {ERROR_ACCESS_DENIED, std::system_category()};
  }
  std::filesystem::path temp = file;
  temp += L".tmp";
  const HANDLE handle = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  std::error_code error = write_all(handle, bytes);
  if (!error && !FlushFileBuffers(handle)) error = last_error();
  CloseHandle(handle);
  if (!error && !MoveFileExW(temp.c_str(), file.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = last_error();
    const bool held =
        error.value() == ERROR_ACCESS_DENIED || error.value() == ERROR_SHARING_VIOLATION;
    if (existed && held) error = rewrite_in_place(file, bytes);
  }
  DeleteFileW(temp.c_str());
  return error;
}

// Every write goes through the one name above and the next write replaces what a
// killed program left there, so at most one stale file can exist.
void remove_stale_temporaries(const std::filesystem::path&) {}

#else

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <optional>
#include <string>

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

std::filesystem::path folder_of(const std::filesystem::path& file) {
  return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// The file a write replaces: a symbolic link is followed, since replacing the link
// itself would cut it off from the file it shares.
std::filesystem::path real_file(const std::filesystem::path& file) {
  std::error_code ignored;
  if (!std::filesystem::is_symlink(file, ignored)) return file;
  auto real = std::filesystem::canonical(file, ignored);
  return ignored ? file : real;
}

// How many names a write tries before it gives up: a name is only taken by a leftover
// of an earlier process that had the same id.
constexpr int temp_name_attempts = 100;

// ".name.txt.<process id>.<attempt>.tmp" beside the file: hidden from a folder
// listing, and recognised at the next start as this program's own.
std::filesystem::path temp_name_beside(const std::filesystem::path& target, int attempt) {
  std::string name = ".";
  name.append(target.filename().string()).append(".").append(std::to_string(::getpid()));
  name.append(".").append(std::to_string(attempt)).append(".tmp");
  return target.parent_path() / name;
}

// A new, empty file beside `target` that nothing else uses.
int create_temp_beside(const std::filesystem::path& target, std::filesystem::path& temp,
                       mode_t mode) {
  for (int attempt = 0;; ++attempt) {
    temp = temp_name_beside(target, attempt);
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
    temp = temp_name_beside(target, attempt);
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
  Descriptor fd(::open(folder_of(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
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

// A process id or attempt number as this program writes it: decimal digits without a
// leading zero.
bool is_plain_number(std::string_view text) {
  if (text.empty() || (text.size() > 1 && text.front() == '0')) return false;
  return text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The process that wrote `name` when it is a temporary file of `file_name`; nothing
// for any other name.
std::optional<pid_t> temp_file_owner(std::string_view name, std::string_view file_name) {
  constexpr std::string_view suffix = ".tmp";
  if (!name.starts_with('.')) return std::nullopt;
  name.remove_prefix(1);
  if (!name.starts_with(file_name)) return std::nullopt;
  name.remove_prefix(file_name.size());
  if (name.size() <= suffix.size() || !name.starts_with('.') || !name.ends_with(suffix)) {
    return std::nullopt;
  }
  name.remove_prefix(1);
  name.remove_suffix(suffix.size());
  const std::size_t dot = name.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const std::string_view pid_text = name.substr(0, dot);
  if (!is_plain_number(pid_text) || !is_plain_number(name.substr(dot + 1))) return std::nullopt;
  pid_t pid = 0;
  const auto result = std::from_chars(pid_text.data(), pid_text.data() + pid_text.size(), pid);
  if (result.ec != std::errc{} || pid <= 0) return std::nullopt;
  return pid;
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
  const std::filesystem::path target = real_file(file);
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
  return sync_folder(folder_of(target));
}

void remove_stale_temporaries(const std::filesystem::path& file) {
  const std::filesystem::path target = real_file(file);
  const std::string file_name = target.filename().string();
  // Best effort: a leftover that cannot be listed or removed costs only disk space, and
  // the start must go on.
  std::error_code error;
  for (std::filesystem::directory_iterator entry(folder_of(target), error), end;
       !error && entry != end; entry.increment(error)) {
    const auto owner = temp_file_owner(entry->path().filename().native(), file_name);
    std::error_code ignored;
    if (!owner || entry->symlink_status(ignored).type() != std::filesystem::file_type::regular) {
      continue;
    }
    // A process that exists, even one of another user (EPERM), may still be writing.
    if (::kill(*owner, 0) == 0 || errno != ESRCH) continue;
    ::unlink(entry->path().c_str());
  }
}

#endif
