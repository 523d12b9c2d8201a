#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

// The name file's bytes on disk: read whole, replaced whole. The temporary files of
// interrupted replaces are cleared away by stale_temporaries; the file's lock
// (name_file_lock) and the choice of its folder (state_folder) call the operating
// system for themselves. Each system's calls are in disk_file_posix.cpp and
// disk_file_windows.cpp.

// The whole content of the file; on failure the system's reason.
std::error_code read_whole_file(const std::filesystem::path& file, std::string& bytes);

// Writes the bytes to a temporary file in the same folder, flushes it to disk and
// renames it over `file` (following a symbolic link to the real file), so that a crash
// or power cut leaves either the old or the new file, never a torn one. The file keeps
// its permissions; one the operator may not write is left alone. On failure the old
// file is untouched and no temporary file remains. One exception: when the folder
// cannot be flushed after the rename, the new file is in place but may not survive a
// power cut, and that is reported as the write's failure all the same.
// On Linux the temporary file has no name until it is complete and is given one only
// for the instant before the rename, so a program killed while writing leaves nothing
// behind; elsewhere, or where the filesystem cannot do that, it is named
// `.<file name>.<process id>.<n>.tmp` from the start. On Windows it is `<file>.tmp`,
// a read-only file is refused (ERROR_ACCESS_DENIED), and a file that another program
// holds open, which Windows will not rename over, is rewritten in place when that
// program lets others write to it (the one write that is not atomic) and otherwise
// refused as that program's (ERROR_SHARING_VIOLATION).
std::error_code replace_file_atomically(const std::filesystem::path& file, std::string_view bytes);

// Whether a failure to flush a folder only means that this folder cannot be flushed
// here (its filesystem does not do it, or the operator may not read the folder), in
// which case the rename stands as it is.
bool folder_cannot_be_synced(const std::error_code& reason);
