#include "settings/settings_files.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "settings/file_trust.h"

namespace {

// Reads the open file to its end, at most `limit` bytes, and closes it.
FileText read_open_file(std::FILE* file, std::size_t limit) {
  std::string text;
  std::array<char, 4096> buffer;
  std::size_t count = 0;
  while (text.size() <= limit && (count = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
    text.append(buffer.data(), count);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return {std::nullopt, "read error"};
  if (text.size() > limit) {
    return {std::nullopt, "larger than " + std::to_string(limit >> 10) + " KiB"};
  }
  return {std::move(text), {}};
}

}  // namespace

FileText read_limited_file(const std::filesystem::path& path, std::size_t limit) {
  // Reading a folder fails with no reason worth showing.
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return {std::nullopt, "a folder, not a file"};
  std::FILE* file = open_settings_file(path);
  if (!file) return {std::nullopt, std::strerror(errno)};
  return read_open_file(file, limit);
}

FileText read_folder_settings(const std::filesystem::path& folder, std::string_view name) {
  if (folder.empty()) return {std::string(), {}};
  TrustedText read = read_trusted_file(folder / name, settings_file_byte_limit);
  if (read.absent) return {std::string(), {}};
  return {std::move(read.text), std::move(read.reason)};
}

FileText read_settings_file(const std::filesystem::path& path) {
  TrustedText read = read_trusted_file(path, settings_file_byte_limit);
  return {std::move(read.text), std::move(read.reason)};
}
