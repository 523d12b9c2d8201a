#include "served_line/line_map.h"

#include <optional>
#include <system_error>

#include "common/settings_files.h"
#include "common/text_number.h"

namespace {

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::optional<long> digits_value(std::string_view text, long max) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

// A level of a topic the programs publish to: no wildcard, nothing empty.
bool plain_level(std::string_view level) {
  return !level.empty() && level.find_first_of("+#") == std::string_view::npos;
}

std::variant<ServedLineAddress, std::string> parse_url(std::string_view url) {
  constexpr std::string_view scheme = "mqtt://";
  if (url.substr(0, scheme.size()) != scheme) return "not an mqtt:// address";
  url.remove_prefix(scheme.size());
  const auto slash = url.find('/');
  if (slash == std::string_view::npos) return "no prefix and line after the broker";
  std::string_view authority = url.substr(0, slash);
  const std::string_view path = url.substr(slash + 1);
  ServedLineAddress address;
  if (const auto colon = authority.rfind(':'); colon != std::string_view::npos) {
    const auto port = digits_value(authority.substr(colon + 1), 65535);
    if (!port || *port == 0) return "no broker port " + std::string(authority.substr(colon + 1));
    address.port = static_cast<int>(*port);
    authority = authority.substr(0, colon);
  }
  if (authority.empty()) return "no broker host";
  address.host = authority;
  const auto last = path.rfind('/');
  if (last == std::string_view::npos) return "no line after the prefix";
  address.prefix = path.substr(0, last);
  address.line = path.substr(last + 1);
  if (address.line.empty()) return "no line after the prefix";
  for (std::size_t start = 0; start <= address.prefix.size();) {
    const auto end = std::min(address.prefix.find('/', start), address.prefix.size());
    if (!plain_level(std::string_view(address.prefix).substr(start, end - start))) {
      return "an empty or wildcard level in the prefix";
    }
    start = end + 1;
  }
  if (!plain_level(address.line)) return "a wildcard in the line";
  return address;
}

}  // namespace

std::string line_url(const ServedLineAddress& address) {
  std::string url = "mqtt://" + address.host;
  if (address.port != 1883) {
    url += ':';
    url += std::to_string(address.port);
  }
  return url + "/" + address.prefix + "/" + address.line;
}

std::variant<LineMap, std::string> parse_line_map(std::string_view text,
                                                  const std::string& file_name) {
  LineMap map;
  int number = 0;
  while (!text.empty()) {
    ++number;
    const auto end = std::min(text.find('\n'), text.size());
    const std::string_view line = trimmed(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.empty() || line.front() == '#') continue;
    const std::string where = file_name + ":" + std::to_string(number) + ": ";
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) return where + "no '=' between port and line";
    const auto port = digits_value(trimmed(line.substr(0, equals)), 32767);
    if (!port) return where + "no port number before '='";
    auto url = parse_url(trimmed(line.substr(equals + 1)));
    if (const auto* why = std::get_if<std::string>(&url)) return where + *why;
    const auto key = static_cast<std::int16_t>(*port);
    if (map.count(key) != 0) return where + "port " + std::to_string(key) + " mapped twice";
    map.emplace(key, std::get<ServedLineAddress>(std::move(url)));
  }
  return map;
}

std::variant<LineMap, std::string> read_line_map(const std::filesystem::path& folder) {
  if (folder.empty()) return LineMap{};
  const std::filesystem::path path = folder / line_map_file_name;
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return LineMap{};
  // Bounded, and never waiting on a FIFO put in its place.
  const FileText read = read_limited_file(path, settings_file_byte_limit);
  if (!read.text) return path.string() + ": cannot be read";
  return parse_line_map(*read.text, path.string());
}

std::optional<std::string> line_map_tooltip(const std::string& port_text,
                                            const std::filesystem::path& folder) {
  const auto number = text_to_int16(port_text);
  if (!number) return std::nullopt;
  const auto map = read_line_map(folder);
  if (const auto* why = std::get_if<std::string>(&map)) return *why;
  const auto& lines = std::get<LineMap>(map);
  const auto line = lines.find(*number);
  if (line == lines.end()) return std::nullopt;
  return "Port " + std::to_string(*number) + ": " + line_url(line->second) +
         "\nserved lines are read from " + (folder / line_map_file_name).string();
}
