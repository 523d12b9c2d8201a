#include "panel/port_tooltip.h"

#include "common/text_number.h"
#include "serial/port_device.h"

std::string port_tooltip(const std::string& port_text, const std::filesystem::path& link_dir) {
  const auto number = text_to_int16(port_text);
  if (!number) return "Not a port number";
  const std::string port = "Port " + std::to_string(*number);
  const auto device = port_device(*number, link_dir);
  if (!device) return port + " names no device";
  std::string text = port + ": " + *device;
  if (reads_port_links() && !link_dir.empty()) {
    text.append("\ncom<n> links are read from ").append(link_dir.string());
  }
  return text;
}
