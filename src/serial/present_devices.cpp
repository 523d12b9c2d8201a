#include "serial/present_devices.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> entries(const fs::path& folder, const std::string& prefix) {
  std::vector<std::string> found;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.starts_with(prefix) && !name.starts_with('.')) found.push_back(it->path().string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

// A path as one word of a shell command.
std::string shell_word(const std::string& text) {
  const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("/._-+:,@=").find(c) != std::string_view::npos;
  });
  if (plain && !text.empty()) return text;
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace

std::vector<std::string> present_serial_devices(
    const fs::path& dev_root, const std::function<bool(const fs::path&)>& answers_as_line) {
  // The by-id names stay the same whichever socket the adapter is plugged into.
  auto found = entries(dev_root / "serial" / "by-id", "");
  if (!found.empty()) return found;
  for (const char* prefix : {"ttyUSB", "ttyACM"}) {
    const auto adapters = entries(dev_root, prefix);
    found.insert(found.end(), adapters.begin(), adapters.end());
  }
  for (const auto& line : entries(dev_root, "ttyS")) {
    if (answers_as_line(line)) found.push_back(line);
  }
  return found;
}

std::string missing_device_advice(int port, const std::vector<std::string>& present,
                                  const fs::path& link_dir) {
  if (present.empty()) return ". No serial device is present.";
  std::string text = ". Serial devices present:";
  for (const auto& device : present) text.append(" ").append(device);
  if (link_dir.empty()) return text;
  // A device opened by its path has no port number, and port 0 names no device: the
  // link is then offered as port 1, the first number a port can have.
  if (port < 1) port = 1;
  const std::string link = (link_dir / ("com" + std::to_string(port))).string();
  text.append(". To use ")
      .append(present.size() == 1 ? "it" : "one")
      .append(" as port ")
      .append(std::to_string(port))
      .append(": ln -sf ")
      .append(shell_word(present.front()))
      .append(" ")
      .append(shell_word(link));
  return text;
}
