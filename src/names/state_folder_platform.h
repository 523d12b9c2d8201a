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
// Files, either of its kinds, as the system names them); never on POSIX systems.
bool installed_program_folder(const std::filesystem::path& folder);

// This system's per-user rule and the environment it reads, into `query`.
void read_state_environment(StateFolderQuery& query);
