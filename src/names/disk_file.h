#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

// The name file on disk: read whole, replaced whole. The one place that calls the
// operating system's file functions.

// The whole content of the file; on failure the system's reason.
std::error_code read_whole_file(const std::filesystem::path& file, std::string& bytes);

// Writes the bytes to a temporary file in the same folder, flushes it to disk and
// renames it over `file` (following a symbolic link to the real file), so that a crash
// or power cut leaves either the old or the new file, never a torn one. The file keeps
// its permissions; one the operator may not write is left alone. On failure the old
// file is untouched and no temporary file remains.
std::error_code replace_file_atomically(const std::filesystem::path& file, std::string_view bytes);
