#include "serial/port_device.h"

// Port n is the link com<n> in the folder when there is one, else /dev/ttyS<n-1>.
std::optional<std::string> port_device(std::int16_t number,
                                       const std::filesystem::path& program_dir) {
  if (number < 1) return std::nullopt;
  if (!program_dir.empty()) {
    const std::filesystem::path link = program_dir / ("com" + std::to_string(number));
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(link, error))) return link.string();
  }
  return "/dev/ttyS" + std::to_string(number - 1);
}

bool reads_port_links() {
  return true;
}
