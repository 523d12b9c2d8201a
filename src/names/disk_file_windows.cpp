#include <windows.h>

#include <algorithm>
#include <string>

#include "names/disk_file.h"

namespace {

std::error_code last_error() {
  return {static_cast<int>(GetLastError()), std::system_category()};
}

// Another program may rename, replace or delete the file while it is read here.
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Links (symbolic links, junctions, any reparse point) are never followed: a handle is
// always of the name itself, which is then checked to be a plain file on a disk.
constexpr DWORD not_following = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

std::error_code refusal_of(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileRefusal::link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileRefusal::folder;
  return {};
}

// Whether an open handle is of a plain file: not a link, a folder or a device (NUL,
// COM1 and the like are devices whatever folder they seem to be in).
std::error_code refusal_of(HANDLE handle) {
  if (GetFileType(handle) != FILE_TYPE_DISK) return FileRefusal::device;
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle, &information)) return last_error();
  return refusal_of(information.dwFileAttributes);
}

// Opens `file` as a plain file, or says why not.
std::error_code open_plain_file(const std::filesystem::path& file, DWORD access, HANDLE& handle) {
  handle =
      CreateFileW(file.c_str(), access, share_all, nullptr, OPEN_EXISTING, not_following, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  if (auto refusal = refusal_of(handle)) {
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    return refusal;
  }
  return {};
}

// A new file under `name`, never through anything that already has the name.
HANDLE create_new(const std::filesystem::path& name) {
  return CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, not_following, nullptr);
}

bool name_taken(DWORD error) {
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

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
  HANDLE handle = INVALID_HANDLE_VALUE;
  if (auto error = open_plain_file(file, GENERIC_WRITE, handle)) return error;
  std::error_code error = write_all(handle, bytes);
  if (!error && !SetEndOfFile(handle)) error = last_error();
  if (!error && !FlushFileBuffers(handle)) error = last_error();
  CloseHandle(handle);
  return error;
}

}  // namespace

std::error_code read_whole_file(const std::filesystem::path& file, std::string& bytes) {
  bytes.clear();
  std::filesystem::path target;
  if (auto error = resolve_regular_file(file, target)) return error;
  HANDLE handle = INVALID_HANDLE_VALUE;
  if (auto error = open_plain_file(file, GENERIC_READ, handle)) return error;
  // One read of the whole file: each read is a round trip to the system, and under
  // Wine a costly one. One byte more than the size, so that the end is seen at once.
  LARGE_INTEGER size{};
  const bool sized = GetFileSizeEx(handle, &size) && size.QuadPart > 0;
  if (sized && static_cast<unsigned long long>(size.QuadPart) > name_file_byte_limit) {
    CloseHandle(handle);
    return FileRefusal::too_large;
  }
  bytes.resize(sized ? static_cast<std::size_t>(size.QuadPart) + 1 : 65536);
  std::size_t filled = 0;
  std::error_code error;
  for (;;) {
    if (filled > name_file_byte_limit) {
      error = FileRefusal::too_large;
      break;
    }
    if (filled == bytes.size()) {
      bytes.resize(std::min(bytes.size() * 2, name_file_byte_limit + 1));
    }
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
  std::filesystem::path target;
  const std::error_code refusal = resolve_regular_file(file, target);
  if (refusal && refusal != std::errc::no_such_file_or_directory) return refusal;
  if (bytes.size() > name_file_byte_limit) return FileRefusal::too_large;
  // A file the operator made read-only is left alone, as every Windows program leaves
  // it; a rename would replace it all the same on some systems.
  const DWORD attributes = GetFileAttributesW(file.c_str());
  const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
  if (existed && (attributes & FILE_ATTRIBUTE_READONLY)) {
    return {ERROR_ACCESS_DENIED, std::system_category()};
  }
  std::filesystem::path temp = file;
  temp += L".tmp";
  // A leftover of a killed write goes first (a link under that name goes as a link), so
  // that the temporary file is always new.
  DeleteFileW(temp.c_str());
  const HANDLE handle = create_new(temp);
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

std::error_code write_backup(const std::filesystem::path& original, std::string_view bytes,
                             std::filesystem::path& backup) {
  std::filesystem::path target;
  if (auto error = resolve_regular_file(original, target)) return error;
  std::filesystem::path base = original;
  base += L".bak";
  constexpr int backup_names = 100;
  HANDLE handle = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < backup_names; ++attempt) {
    backup = base;
    if (attempt > 0) backup += L"." + std::to_wstring(attempt);
    handle = create_new(backup);
    if (handle != INVALID_HANDLE_VALUE || !name_taken(GetLastError())) break;
  }
  if (handle == INVALID_HANDLE_VALUE) {
    return name_taken(GetLastError()) ? make_error_code(FileRefusal::no_backup_name) : last_error();
  }
  std::error_code error = write_all(handle, bytes);
  if (!error && !FlushFileBuffers(handle)) error = last_error();
  CloseHandle(handle);
  if (error) DeleteFileW(backup.c_str());
  return error;
}
