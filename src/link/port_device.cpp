#include "link/port_device.h"

std::optional<std::string> port_device(std::int16_t number,
                                       const std::filesystem::path& program_dir) {
  if (number < 1) return std::nullopt;
  const std::string com = "COM" + std::to_string(number);
#ifdef _WIN32
  (void)program_dir;
  return number < 10 ? com : "\\\\.\\" + com;
#else
  if (!program_dir.empty()) {
    const std::filesystem::path link = program_dir / ("com" + std::to_string(number));
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(link, error))) return link.string();
  }
  return "/dev/ttyS" + std::to_string(number - 1);
#endif
}
