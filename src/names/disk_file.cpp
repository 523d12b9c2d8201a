#include "names/disk_file.h"

#ifdef _WIN32

#include <windows.h>

#include <algorithm>

namespace {

std::error_code last_error() {
  return {static_cast<int>(GetLastError()), std::system_category()};
}

}  // namespace

std::error_code read_whole_file(const std::filesystem::path& file, std::string& bytes) {
  const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  bytes.clear();
  char buffer[65536];
  DWORD count = 0;
  std::error_code error;
  for (;;) {
    if (!ReadFile(handle, buffer, sizeof buffer, &count, nullptr)) {
      error = last_error();
      break;
    }
    if (count == 0) break;
    bytes.append(buffer, count);
  }
  CloseHandle(handle);
  return error;
}

std::error_code replace_file_atomically(const std::filesystem::path& file, std::string_view bytes) {
  std::filesystem::path temp = file;
  temp += L".tmp";
  const HANDLE handle = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  std::error_code error;
  std::size_t done = 0;
  while (!error && done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + done, chunk, &written, nullptr)) error = last_error();
    done += written;
  }
  if (!error && !FlushFileBuffers(handle)) error = last_error();
  CloseHandle(handle);
  if (!error && !MoveFileExW(temp.c_str(), file.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = last_error();
  }
  if (error) DeleteFileW(temp.c_str());
  return error;
}

#else

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// A new, empty file beside `target` that nothing else uses.
int create_temp_beside(const std::filesystem::path& target, std::filesystem::path& temp,
                       mode_t mode) {
  std::string base = ".";
  base.append(target.filename().string()).append(".").append(std::to_string(::getpid()));
  for (int attempt = 0;; ++attempt) {
    std::string name = base;
    name.append(".").append(std::to_string(attempt)).append(".tmp");
    temp = target.parent_path() / name;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST || attempt >= 100) return fd;
  }
}

// Makes the rename itself durable.
void sync_folder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::error_code write_temp_file(int fd, std::string_view bytes, mode_t mode, bool keep_mode) {
  if (auto error = write_all(fd, bytes)) return error;
  if (keep_mode && ::fchmod(fd, mode) != 0) return last_error();
  if (::fsync(fd) != 0) return last_error();
  return {};
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
  std::filesystem::path target = file;
  std::error_code ignored;
  if (std::filesystem::is_symlink(file, ignored)) {
    // Replacing the link itself would cut it off from the file it shares.
    auto real = std::filesystem::canonical(file, ignored);
    if (!ignored) target = std::move(real);
  }
  struct stat old {};
  const bool existed = ::stat(target.c_str(), &old) == 0;
  // Renaming needs only the folder's permission: a file the operator made read-only
  // would be replaced all the same.
  if (existed && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    return last_error();
  }
  const mode_t mode = existed ? (old.st_mode & 07777) : 0666;

  std::filesystem::path temp;
  Descriptor fd(create_temp_beside(target, temp, mode));
  if (fd.get() < 0) return last_error();
  std::error_code error = write_temp_file(fd.get(), bytes, mode, existed);
  if (auto close_error = fd.close(); !error) error = close_error;
  if (!error && ::rename(temp.c_str(), target.c_str()) != 0) error = last_error();
  if (error) {
    ::unlink(temp.c_str());
    return error;
  }
  sync_folder(target.parent_path());
  return {};
}

#endif
