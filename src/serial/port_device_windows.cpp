#include "serial/port_device.h"

// Port n is COMn, whatever the folder holds. From COM10 on Windows knows a port only by
// its device path.
std::optional<std::string> port_device(std::int16_t number, const std::filesystem::path&) {
  if (number < 1) return std::nullopt;
  const std::string com = "COM" + std::to_string(number);
  return number < 10 ? com : "\\\\.\\" + com;
}

std::string port_mapping_text(std::int16_t, const std::filesystem::path&) {
  return {};
}

bool reads_port_links() {
  return false;
}
