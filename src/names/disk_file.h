#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "settings/file_trust.h"

// The name file's bytes on disk: read whole, replaced whole, backed up. The temporary
// files of interrupted replaces are cleared away by stale_temporaries; the file's lock
// (name_file_lock) and the choice of its folder (state_folder) call the operating
// system for themselves. Each system's calls are in disk_file_posix.cpp and
// disk_file_windows.cpp.
//
// The name file's folder may be shared with other users (a world-writable /tmp, a
// shared folder), and the program may run with more rights than they have (root, a
// service). Nothing here follows a link or opens anything but a regular file by
// chance: a link is used only when it cannot have been planted by another user (see
// resolve_regular_file), and every file made is made new, never through a name that
// already exists.

// The most a name file may hold (FileRefusal::too_large).
inline constexpr std::size_t name_file_byte_limit = whole_file_byte_limit;

// The whole content of the file (see resolve_regular_file), opened without waiting on
// anything and never more than name_file_byte_limit; on failure the reason.
std::error_code read_whole_file(const std::filesystem::path& file, std::string& bytes);

// Writes the bytes to a new temporary file in the same folder, flushes it to disk and
// renames it over the file (see resolve_regular_file), so that a crash or power cut
// leaves either the old or the new file, never a torn one. The file keeps its
// permissions, its owner and its group (a rename by the administrator leaves a
// service's file the service's); when the owner or group cannot be kept the write is
// refused (owner_not_kept). One the operator may not write is left alone. On failure
// the old file is untouched and no temporary file remains. One exception: when the
// folder cannot be flushed after the rename, the new file is in place but may not
// survive a power cut, and that is reported as the write's failure all the same.
// On Linux the temporary file has no name until it is complete and is given one only
// for the instant before the rename, so a program killed while writing leaves nothing
// behind; elsewhere, or where the filesystem cannot do that, it is named
// `.<file name>.<process id>.<n>.tmp` from the start. On Windows it is `<file>.tmp`,
// a read-only file is refused (ERROR_ACCESS_DENIED), and a file that another program
// holds open, which Windows will not rename over, is rewritten in place when that
// program lets others write to it (the one write that is not atomic) and otherwise
// refused as that program's (ERROR_SHARING_VIOLATION).
std::error_code replace_file_atomically(const std::filesystem::path& file, std::string_view bytes);

// Keeps `bytes`, the content of `original`, in a new file beside it with the
// original's permissions (and, where the system allows, its owner and group):
// `<original>.bak`, or `<original>.bak.<n>` when that name is taken, since an existing
// file (an older backup, or a link planted in a shared folder) is never written over.
// `backup` is the name used.
std::error_code write_backup(const std::filesystem::path& original, std::string_view bytes,
                             std::filesystem::path& backup);

// Whether a failure to flush a folder only means that this folder cannot be flushed
// here (its filesystem does not do it, or the operator may not read the folder), in
// which case the rename stands as it is.
bool folder_cannot_be_synced(const std::error_code& reason);
