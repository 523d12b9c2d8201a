#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "common/message_boxes.h"
#include "names/name_file_lock.h"

// What the operator is told about the name file on disk.

// The path as UTF-8 text, for messages.
std::string path_text(const std::filesystem::path& file);

// "<path> not found." under "File Not Found", critical.
Message file_not_found_message(const std::filesystem::path& file);

// "<path> could not be <what>: <system's reason>", critical; `what` is "read",
// "written" or "created".
Message file_failure_message(const std::filesystem::path& file, std::string_view what,
                             const std::error_code& reason);

// "<path> could not be written: <why>", critical, for a write refused to keep the
// file's other names as they read: the name would change how the file's characters
// read, or the file holds text that could not be written back as it is.
Message write_refused_message(const std::filesystem::path& file, std::string_view why);

// "<path> could not be <what>: ..." for a lock that was not had: another program kept
// it for the whole wait (`waited`), or its lock file could not be opened or locked.
Message lock_failure_message(const std::filesystem::path& file, std::string_view what,
                             const NameFileLock& lock, std::chrono::milliseconds waited);
