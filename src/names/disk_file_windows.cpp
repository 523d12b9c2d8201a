#include <windows.h>

#include <algorithm>

#include "names/disk_file.h"

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
