#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "common/message_boxes.h"

// Where the panel keeps what it stores: name.txt, and beside it the com<n> links that
// map port numbers to devices.
//
// The rule: the name file given on the command line (--names FILE), whose folder then
// holds the links; else the program's own folder when it can be written (a portable
// copy keeps its names with it) and is not among the system's installed programs;
// else the per-user folder, created when needed: on Linux
// $XDG_CONFIG_HOME/relay_panel, or ~/.config/relay_panel when XDG_CONFIG_HOME is
// unset; on Windows %APPDATA%\relay_panel. An installed program (under Program Files;
// on POSIX systems in a folder under /usr or /opt, or one that is not the running
// user's own) uses the per-user folder even when it runs with administrator or root
// rights, which could write there: its names must not depend on how it was started,
// and nothing is left among the system's files.

// Where each system keeps a user's own settings.
enum class PerUserRule { Xdg, AppData };

// What the rule looks at. Empty strings stand for unset environment variables.
struct StateFolderQuery {
  std::filesystem::path program_dir;
  bool program_dir_writable = false;
  std::optional<std::filesystem::path> names_option;  // --names FILE
  std::string xdg_config_home;
  std::string home;
  PerUserRule per_user_rule = PerUserRule::Xdg;
  std::filesystem::path appdata;       // %APPDATA%, as a path: it may hold any character
  bool program_dir_installed = false;  // under Program Files
  // The folders where the system installs programs (their real paths) and whether the
  // program's folder, its links resolved, belongs to the user running it; both say
  // that the program is installed.
  std::vector<std::filesystem::path> system_folders{};
  bool program_dir_owned = true;
  std::filesystem::path program_dir_real{};  // empty: program_dir is its real path
};

// Whether the query's program folder counts as installed rather than a portable copy:
// under Program Files, inside one of the system folders (whole path parts compared),
// or not the user's own.
bool installed_program(const StateFolderQuery& query);

// The folder and the name file in it. `per_user` says that the folder is the per-user
// one, which may still have to be created.
struct StateFolder {
  std::filesystem::path folder;
  std::filesystem::path name_file;
  bool per_user = false;
};

// Why no name file can be used: the path concerned and the reason, for the operator.
struct StateFolderProblem {
  std::filesystem::path path;
  std::string reason;
};

using StateFolderChoice = std::variant<StateFolder, StateFolderProblem>;

// The folder name used below $XDG_CONFIG_HOME, ~/.config or %APPDATA%.
inline constexpr const char* state_folder_name = "relay_panel";

// The rule itself, without looking at the disk.
StateFolderChoice choose_state_folder(const StateFolderQuery& query);

// Makes the chosen folder ready: creates the per-user folder when needed, and checks
// that the folder is one, that the name file is no folder, and that a name file yet to
// be made can be made there.
StateFolderChoice prepare_state_folder(const StateFolder& chosen);

// The rule applied to this process: the environment, whether the program's folder can
// be written, then prepare_state_folder.
StateFolderChoice find_state_folder(const std::filesystem::path& program_dir,
                                    const std::optional<std::filesystem::path>& names_option);

// What the operator is told, once, when the panel runs without a name file.
Message state_folder_message(const StateFolderProblem& problem);

// find_state_folder for the panel's start: when there is no usable folder the operator
// is told once (state_folder_message) and the result has empty paths, so that the panel
// runs without names and links rather than failing on every read.
StateFolder settle_state_folder(const std::filesystem::path& program_dir,
                                const std::optional<std::filesystem::path>& names_option,
                                MessageBoxes& messages);
