#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string_view>

// The names of the temporary files that a replace writes beside the name file on POSIX
// systems, shared by the writer that makes them and the clean-up that recognises the
// ones a killed process left behind.
namespace temp_file_names {

// The folder that holds `file`: "." for a bare file name.
std::filesystem::path folder_of(const std::filesystem::path& file);

// ".name.txt.<process id>.<attempt>.tmp" beside the file, for this process: hidden
// from a folder listing, and recognised at the next start as this program's own.
std::filesystem::path beside(const std::filesystem::path& target, int attempt);

// The process that wrote `name` when it is a temporary file of `file_name`; nothing
// for any other name.
std::optional<pid_t> owner(std::string_view name, std::string_view file_name);

}  // namespace temp_file_names
