#include "names/state_folder.h"

#include <system_error>

#include "common/system_error_text.h"
#include "names/file_messages.h"
#include "names/state_folder_platform.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* name_file_name = "name.txt";

StateFolder per_user(const fs::path& folder) {
  return {folder, folder / name_file_name, true};
}

}  // namespace

StateFolderChoice choose_state_folder(const StateFolderQuery& query) {
  if (query.names_option) {
    return StateFolder{query.names_option->parent_path(), *query.names_option, false};
  }
  if (query.program_dir_writable && !query.program_dir_installed) {
    return StateFolder{query.program_dir, query.program_dir / name_file_name, false};
  }
  if (query.per_user_rule == PerUserRule::AppData) {
    if (query.appdata.is_absolute()) return per_user(query.appdata / state_folder_name);
    return StateFolderProblem{
        query.program_dir,
        std::string(query.program_dir_installed ? "the program is installed under Program Files"
                                                : "the program's folder cannot be written") +
            ", and APPDATA is not set to give a per-user folder"};
  }
  // A relative XDG_CONFIG_HOME is invalid by the XDG rules and is ignored.
  const fs::path xdg(query.xdg_config_home);
  if (!xdg.empty() && xdg.is_absolute()) return per_user(xdg / state_folder_name);
  const fs::path home(query.home);
  if (!home.empty()) return per_user(home / ".config" / state_folder_name);
  return StateFolderProblem{
      query.program_dir,
      "the program's folder cannot be written, and neither XDG_CONFIG_HOME nor HOME is set "
      "to give a per-user folder"};
}

StateFolderChoice prepare_state_folder(const StateFolder& chosen) {
  std::error_code error;
  if (chosen.per_user) {
    fs::create_directories(chosen.folder, error);
    if (error) {
      return StateFolderProblem{chosen.folder, "could not be created: " + system_error_text(error)};
    }
  }
  const auto folder = fs::status(chosen.folder, error);
  if (!fs::exists(folder)) {
    return StateFolderProblem{chosen.name_file,
                              "the folder " + path_text(chosen.folder) + " does not exist"};
  }
  if (!fs::is_directory(folder)) {
    return StateFolderProblem{chosen.name_file, path_text(chosen.folder) + " is not a folder"};
  }
  const auto file = fs::status(chosen.name_file, error);
  if (fs::is_directory(file)) {
    return StateFolderProblem{chosen.name_file, "it is a folder, not a file"};
  }
  // An existing file can still be read where it cannot be written; a missing one could
  // never be made.
  if (!fs::exists(file)) {
    if (const auto denied = folder_write_error(chosen.folder)) {
      return StateFolderProblem{chosen.folder, "cannot be written: " + system_error_text(denied)};
    }
  }
  return chosen;
}

StateFolderChoice find_state_folder(const fs::path& program_dir,
                                    const std::optional<fs::path>& names_option) {
  StateFolderQuery query;
  query.program_dir = program_dir;
  if (names_option) {
    std::error_code error;
    const fs::path absolute = fs::absolute(*names_option, error);
    query.names_option = error ? *names_option : absolute;
  } else {
    query.program_dir_installed = installed_program_folder(program_dir);
    query.program_dir_writable = !query.program_dir_installed && !folder_write_error(program_dir);
  }
  read_state_environment(query);
  const auto choice = choose_state_folder(query);
  if (const auto* chosen = std::get_if<StateFolder>(&choice)) return prepare_state_folder(*chosen);
  return choice;
}

Message state_folder_message(const StateFolderProblem& problem) {
  return {path_text(problem.path) + ": " + problem.reason +
              ". The relays' names are not shown and renames are not stored.",
          "File Error", MessageIcon::Critical};
}

StateFolder settle_state_folder(const fs::path& program_dir,
                                const std::optional<fs::path>& names_option,
                                MessageBoxes& messages) {
  const auto choice = find_state_folder(program_dir, names_option);
  if (const auto* chosen = std::get_if<StateFolder>(&choice)) return *chosen;
  messages.show(state_folder_message(std::get<StateFolderProblem>(choice)));
  return {};
}
