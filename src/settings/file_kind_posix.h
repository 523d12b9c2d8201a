#pragma once

#include <sys/types.h>

#include <filesystem>
#include <system_error>

#include "settings/file_trust.h"

struct stat;

// What the POSIX disk code asks of a file before it uses it.

// Nothing for a regular file; for anything else what it is (a FIFO, a device, a
// folder...), as a FileRefusal.
std::error_code refusal_of_kind(mode_t mode);

// Whether a file of this owner can be trusted not to have been planted: this process's
// own user's, or the administrator's.
bool trusted_owner(uid_t owner);

// Opens a file that must be regular, for reading, without following a link and without
// waiting on a FIFO or opening a device: anything but a regular file is refused before
// it is opened, and checked again once it is. `fd` is -1 on failure.
std::error_code open_regular_for_reading(const char* path, int& fd);

// Nothing when a file of this standing (its owner, group and mode as `stat` gives them)
// in this folder passes the rule of common/file_trust.h; else why not.
std::error_code refusal_of_standing(const struct stat& file, const std::filesystem::path& folder,
                                    FileUse use);
