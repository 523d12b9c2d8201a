#include <unistd.h>

#include <cerrno>

#include "names/state_folder_platform.h"

std::error_code folder_write_error(const std::filesystem::path& folder) {
  if (::access(folder.c_str(), W_OK) == 0) return {};
  return {errno, std::generic_category()};
}
