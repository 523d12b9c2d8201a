#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "names/state_folder_platform.h"

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

std::error_code folder_write_error(const std::filesystem::path& folder) {
  if (::access(folder.c_str(), W_OK) == 0) return {};
  return {errno, std::generic_category()};
}

bool installed_program_folder(const std::filesystem::path&) {
  return false;
}

void read_program_folder(StateFolderQuery& query) {
  // /usr/local is inside /usr; it is named for whoever reads the list.
  query.system_folders = {"/usr", "/usr/local", "/opt"};
  std::error_code error;
  query.program_dir_real = std::filesystem::canonical(query.program_dir, error);
  if (error) query.program_dir_real = query.program_dir;
  // A folder that cannot be looked at cannot be written either, which says enough.
  struct stat info {};
  query.program_dir_owned =
      ::stat(query.program_dir_real.c_str(), &info) != 0 || info.st_uid == ::geteuid();
}

void read_state_environment(StateFolderQuery& query) {
  query.per_user_rule = PerUserRule::Xdg;
  query.xdg_config_home = environment("XDG_CONFIG_HOME");
  query.home = environment("HOME");
}
