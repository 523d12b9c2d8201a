#include "settings/settings_files.h"

// Windows keeps who may read a file in its access list, which the folder's inheritance
// sets; there is no mode to judge here.
std::optional<std::string> secret_file_exposure(const std::filesystem::path&) {
  return std::nullopt;
}

std::FILE* open_settings_file(const std::filesystem::path& path) {
  return ::_wfopen(path.c_str(), L"rb");
}
