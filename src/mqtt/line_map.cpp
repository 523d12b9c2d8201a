#include "mqtt/line_map.h"

#include <optional>
#include <system_error>

#include "common/text_number.h"
#include "common/trimmed.h"
#include "mqtt/plain_password.h"
#include "settings/settings_files.h"
#include "settings/settings_text.h"

namespace {

// A level of a topic the programs publish to: no wildcard, nothing empty.
bool plain_level(std::string_view level) {
  return !level.empty() && level.find_first_of("+#") == std::string_view::npos;
}

std::variant<ServedLineAddress, std::string> parse_url(std::string_view url) {
  constexpr std::string_view scheme = "mqtt://";
  constexpr std::string_view tls_scheme = "mqtts://";
  ServedLineAddress address;
  if (url.starts_with(tls_scheme)) {
    address.tls = true;
    address.port = 8883;
    url.remove_prefix(tls_scheme.size());
  } else if (url.starts_with(scheme)) {
    url.remove_prefix(scheme.size());
  } else {
    return "not an mqtt:// address";
  }
  const auto slash = url.find('/');
  if (slash == std::string_view::npos) return "no prefix and line after the broker";
  std::string_view authority = url.substr(0, slash);
  const std::string_view path = url.substr(slash + 1);
  if (const auto colon = authority.rfind(':'); colon != std::string_view::npos) {
    const auto port = small_decimal(authority.substr(colon + 1), 65535, 6);
    if (!port || *port == 0) return "no broker port " + std::string(authority.substr(colon + 1));
    address.port = *port;
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

// A key of a mapped port, `N.key = value`: what it sets, or why it cannot.
std::optional<std::string> set_key(ServedLineAddress& line, std::string_view key,
                                   std::string_view value) {
  if (key == "plain_password") {
    if (line.plain_password) return "plain_password given twice";
    if (value != "yes" && value != "no") return "plain_password is yes or no";
    line.plain_password = value == "yes";
    return std::nullopt;
  }
  std::string* field = key == "cafile"          ? &line.cafile
                       : key == "user"          ? &line.user
                       : key == "password_file" ? &line.password_file
                                                : nullptr;
  if (!field)
    return "no key " + std::string(key) + " (cafile, user, password_file, plain_password)";
  if (value.empty()) return "no value after '='";
  if (!field->empty()) return std::string(key) + " given twice";
  *field = value;
  return std::nullopt;
}

// What a mapping with its keys lacks or has too many of.
std::optional<std::string> access_fault(const ServedLineAddress& line, std::int16_t number) {
  const std::string port = std::to_string(number);
  if (line.tls && line.cafile.empty()) {
    return "mqtts:// needs " + port + ".cafile, the authority the broker's certificate is from";
  }
  if (!line.tls && !line.cafile.empty()) return port + ".cafile is for mqtts:// lines";
  if (line.user.empty() && !line.password_file.empty()) {
    return port + ".password_file needs " + port + ".user";
  }
  return std::nullopt;
}

}  // namespace

std::string line_url(const ServedLineAddress& address) {
  std::string url = (address.tls ? "mqtts://" : "mqtt://") + address.host;
  if (address.port != (address.tls ? 8883 : 1883)) {
    url += ':';
    url += std::to_string(address.port);
  }
  return url + "/" + address.prefix + "/" + address.line;
}

std::variant<LineMap, std::string> parse_line_map(std::string_view text,
                                                  const std::string& file_name) {
  auto read = settings_lines(text, file_name, {.no_separator = "no '=' between port and line"});
  if (auto* why = std::get_if<std::string>(&read)) return std::move(*why);
  LineMap map;
  std::map<std::int16_t, int> mapped_at;  // each mapping's line, where its faults are told
  for (const SettingsLine& line : std::get<std::vector<SettingsLine>>(read)) {
    const std::string where = settings_where(file_name, line.number);
    const auto dot = line.key.find('.');
    const auto port = small_decimal(trimmed(line.key.substr(0, dot)), 32767, 6);
    if (!port) return where + "no port number before '='";
    const auto key = static_cast<std::int16_t>(*port);
    // The port's first fault is the one told; its later lines change nothing.
    if (const auto known = map.find(key); known != map.end() && !known->second.fault.empty()) {
      continue;
    }
    const auto spoil = [&](const std::string& why) { map[key].fault = where + why; };
    if (dot != std::string_view::npos) {
      const auto mapped = map.find(key);
      if (mapped == map.end()) {
        spoil("port " + std::to_string(key) + " not mapped above");
      } else if (auto why =
                     set_key(mapped->second, trimmed(line.key.substr(dot + 1)), line.value)) {
        spoil(*why);
      }
      continue;
    }
    if (map.count(key) != 0) {
      spoil("port " + std::to_string(key) + " mapped twice");
      continue;
    }
    auto url = parse_url(line.value);
    ServedLineAddress& address = map[key];
    if (const auto* why = std::get_if<std::string>(&url)) {
      address.fault = where + *why;
      address.written = line.value;
    } else {
      address = std::get<ServedLineAddress>(std::move(url));
    }
    mapped_at[key] = line.number;
  }
  for (auto& [key, line] : map) {
    if (!line.fault.empty()) continue;
    if (auto why = access_fault(line, key))
      line.fault = settings_where(file_name, mapped_at[key]) + *why;
  }
  return map;
}

std::variant<LineMap, std::string> read_line_map(const std::filesystem::path& folder) {
  const FileText read = read_folder_settings(folder, line_map_file_name);
  if (!read.text) return read.reason;
  return parse_line_map(*read.text, (folder / line_map_file_name).string());
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
  if (!line->second.fault.empty()) return line->second.fault;
  // Any password stands for the file's here: whether there is one is what counts.
  const PasswordCheck password =
      check_password_passage(line_broker_settings(line->second, line->second.password_file),
                             {"", "", std::to_string(*number) + ".plain_password = yes"});
  const std::string note =
      password.passage == PasswordPassage::clear_allowed ? "\n" + password.text : "";
  return "Port " + std::to_string(*number) + ": " + line_url(line->second) + note +
         "\nserved lines are read from " + (folder / line_map_file_name).string();
}

std::variant<std::string, std::string> line_password(const ServedLineAddress& line) {
  using Result = std::variant<std::string, std::string>;
  if (line.password_file.empty()) return Result(std::in_place_index<0>);
  const std::filesystem::path path(
      std::u8string(line.password_file.begin(), line.password_file.end()));
  const std::string named = "the password file " + line.password_file;
  if (const auto exposure = secret_file_exposure(path)) {
    return Result(std::in_place_index<1>, named + ": " + *exposure);
  }
  const FileText read = read_settings_file(path);
  if (!read.text) return Result(std::in_place_index<1>, "the password file " + read.reason);
  std::string password = read.text->substr(0, read.text->find_first_of("\r\n"));
  const PasswordCheck passage = check_password_passage(
      line_broker_settings(line, password),
      {"", "map the port to mqtts:// with its cafile",
       "the port plain_password = yes in " + std::string(line_map_file_name)});
  if (passage.passage == PasswordPassage::clear_refused)
    return Result(std::in_place_index<1>, passage.text);
  return Result(std::in_place_index<0>, std::move(password));
}

BrokerSettings line_broker_settings(const ServedLineAddress& line, std::string password) {
  BrokerSettings settings;
  settings.host = line.host;
  settings.port = line.port;
  settings.cafile = line.cafile;
  settings.user = line.user;
  settings.password = std::move(password);
  settings.plain_password = line.plain_password.value_or(false);
  return settings;
}
