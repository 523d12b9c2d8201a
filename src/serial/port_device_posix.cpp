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

std::string port_mapping_text(std::int16_t number, const std::filesystem::path& program_dir) {
  if (number < 1) return {};
  const std::string port = "port " + std::to_string(number);
  const std::string link_name = "com" + std::to_string(number);
  if (program_dir.empty())
    return port + ": no folder for a link " + link_name + ", so the default device";
  const std::filesystem::path link = program_dir / link_name;
  std::error_code error;
  const auto status = std::filesystem::symlink_status(link, error);
  if (std::filesystem::is_symlink(status)) {
    const auto target = std::filesystem::read_symlink(link, error);
    return error ? port + ": a link" : port + ": a link to " + target.string();
  }
  if (std::filesystem::exists(status)) return port;
  return port + ": no link " + link_name + " in " + program_dir.string() +
         ", so the default device";
}

bool reads_port_links() {
  return true;
}
