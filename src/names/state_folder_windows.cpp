#include <io.h>

#include <cerrno>

#include "names/state_folder_platform.h"

std::error_code folder_write_error(const std::filesystem::path& folder) {
  // 2: write permission.
  if (::_waccess(folder.c_str(), 2) == 0) return {};
  return {errno, std::generic_category()};
}
