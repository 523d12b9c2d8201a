#pragma once

#include <filesystem>

// Deletes the temporary files of `file` that a replace_file_atomically of a process of
// this program left behind when it was killed: only regular files whose process no
// longer exists. Everything else in the folder is left alone, and so is anything that
// cannot be removed. Does nothing on Windows, where the one temporary file is reused
// by the next write.
void remove_stale_temporaries(const std::filesystem::path& file);
