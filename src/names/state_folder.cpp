#include "names/state_folder.h"

#include <iterator>
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

// Whether `folder` is `root` or inside it, part by part: /usrlocal is not in /usr.
bool inside(const fs::path& folder, const fs::path& root) {
  const fs::path whole = folder.lexically_normal();
  const fs::path base = root.lexically_normal();
  auto part = whole.begin();
  for (auto root_part = base.begin(); root_part != base.end(); ++root_part, ++part) {
    // A closing separator ends the root's parts with an empty one.
    if (root_part->empty() && std::next(root_part) == base.end()) break;
    if (part == whole.end() || *part != *root_part) return false;
  }
  return true;
}

// Why the program's own folder is not used, for a message that has no other folder.
std::string program_folder_reason(const StateFolderQuery& query) {
  if (query.program_dir_installed) return "the program is installed under Program Files";
  if (installed_program(query)) {
    return query.program_dir_owned ? "the program is installed in a system folder"
                                   : "the program's folder belongs to another user";
  }
  return "the program's folder cannot be written";
}

}  // namespace

bool installed_program(const StateFolderQuery& query) {
  if (query.program_dir_installed || !query.program_dir_owned) return true;
  const fs::path& real =
      query.program_dir_real.empty() ? query.program_dir : query.program_dir_real;
  for (const auto& system : query.system_folders) {
    if (inside(real, system)) return true;
  }
  return false;
}

StateFolderChoice choose_state_folder(const StateFolderQuery& query) {
  if (query.names_option) {
    return StateFolder{query.names_option->parent_path(), *query.names_option, false};
  }
  if (query.program_dir_writable && !installed_program(query)) {
    return StateFolder{query.program_dir, query.program_dir / name_file_name, false};
  }
  if (query.per_user_rule == PerUserRule::AppData) {
    if (query.appdata.is_absolute()) return per_user(query.appdata / state_folder_name);
    return StateFolderProblem{
        query.program_dir,
        program_folder_reason(query) + ", and APPDATA is not set to give a per-user folder"};
  }
  // A relative XDG_CONFIG_HOME is invalid by the XDG rules and is ignored.
  const fs::path xdg(query.xdg_config_home);
  if (!xdg.empty() && xdg.is_absolute()) return per_user(xdg / state_folder_name);
  const fs::path home(query.home);
  if (!home.empty()) return per_user(home / ".config" / state_folder_name);
  return StateFolderProblem{query.program_dir,
                            program_folder_reason(query) +
                                ", and neither XDG_CONFIG_HOME nor HOME is set to give a "
                                "per-user folder"};
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
    read_program_folder(query);
    query.program_dir_writable = !installed_program(query) && !folder_write_error(program_dir);
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
