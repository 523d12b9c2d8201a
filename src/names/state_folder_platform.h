#pragma once

#include <filesystem>
#include <system_error>

#include "names/state_folder.h"

// What the state folder's rule asks the operating system, one file for each system:
// state_folder_posix.cpp and state_folder_windows.cpp.

// Nothing when this user may create files in the folder, else the system's reason. A
// read-only mount counts as not writable even for root.
std::error_code folder_write_error(const std::filesystem::path& folder);

// Whether the folder is, or is inside, one where the system installs programs (Program
// Files, either of its kinds, as the system names them); on POSIX systems see
// read_program_folder.
bool installed_program_folder(const std::filesystem::path& folder);

// What the system says of `query.program_dir` for installed_program: on Windows whether
// it is under Program Files; on POSIX systems its real path, whether this user owns it,
// and the system's folders for programs (/usr, /usr/local, /opt).
void read_program_folder(StateFolderQuery& query);

// This system's per-user rule and the environment it reads, into `query`.
void read_state_environment(StateFolderQuery& query);
