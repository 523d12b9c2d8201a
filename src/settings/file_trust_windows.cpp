#include <windows.h>

#include <cstdio>

#include "settings/device_names_windows.h"
#include "settings/file_trust.h"

// Windows keeps who may write a file in its access list, which the folder's inheritance
// sets: only the kind is judged here. Links (symbolic links, junctions, any reparse
// point) are never followed.

std::error_code resolve_regular_file(const std::filesystem::path& file,
                                     std::filesystem::path& target, FileUse) {
  target = file;
  // A device's name is the device in every folder; looking at it may already open it.
  if (is_device_name(file.filename())) return FileRefusal::device;
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return std::make_error_code(std::errc::no_such_file_or_directory);
    }
    return {static_cast<int>(error), std::system_category()};
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileRefusal::link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileRefusal::folder;
  return {};
}

std::error_code read_trusted_bytes(const std::filesystem::path& path, std::size_t limit,
                                   std::string& text) {
  text.clear();
  std::filesystem::path target;
  if (auto error = resolve_regular_file(path, target)) return error;
  std::FILE* file = ::_wfopen(path.c_str(), L"rb");
  if (!file) return {errno, std::generic_category()};
  char buffer[4096];
  std::size_t count = 0;
  while (text.size() <= limit && (count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, count);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return failed ? std::make_error_code(std::errc::io_error) : std::error_code{};
}
