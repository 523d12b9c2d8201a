#include <windows.h>

#include <algorithm>

#include "settings/device_names_windows.h"
#include "names/disk_file.h"
#include "names/name_file_lock.h"

namespace {

std::error_code last_error() {
  return {static_cast<int>(GetLastError()), std::system_category()};
}

// Failures that say the folder cannot hold a new file, where the write that follows
// fails all the same and tells the operator its own reason.
bool folder_not_writable(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_FILE_NOT_FOUND || error == ERROR_WRITE_PROTECT;
}

}  // namespace

std::filesystem::path NameFileLock::lock_file(const std::filesystem::path& file) {
  std::filesystem::path lock = file;
  lock += L".lock";
  return lock;
}

NameFileLock::NameFileLock(const std::filesystem::path& file, std::chrono::milliseconds patience) {
  // Shared every way, so that the lock file itself never stands in anyone's way; the
  // byte-range lock below is what excludes.
  if (is_device_name(lock_file(file).filename())) {
    error_ = FileRefusal::device;
    return;
  }
  // A link under the lock's name is opened as the link, never followed, and refused.
  const HANDLE handle = CreateFileW(
      lock_file(file).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (!folder_not_writable(GetLastError())) error_ = last_error();
    return;
  }
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  BY_HANDLE_FILE_INFORMATION information{};
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    error_ = FileRefusal::device;
  } else if (!GetFileInformationByHandle(handle, &information)) {
    error_ = last_error();
  } else if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    error_ = FileRefusal::link;
  } else if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    error_ = FileRefusal::folder;
  }
  if (error_) return;
  const auto deadline = std::chrono::steady_clock::now() + patience;
  std::chrono::milliseconds pause{1};
  for (;;) {
    OVERLAPPED first_byte{};
    if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &first_byte)) {
      held_ = true;
      return;
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION && GetLastError() != ERROR_IO_PENDING) {
      error_ = last_error();
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      busy_ = true;
      return;
    }
    Sleep(static_cast<DWORD>(pause.count()));
    pause = std::min(pause * 2, std::chrono::milliseconds{20});
  }
}

NameFileLock::~NameFileLock() {
  if (handle_ == -1) return;
  const HANDLE handle = reinterpret_cast<HANDLE>(handle_);
  if (held_) {
    OVERLAPPED first_byte{};
    UnlockFileEx(handle, 0, 1, 0, &first_byte);
  }
  CloseHandle(handle);
}
