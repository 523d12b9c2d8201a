#include "serial/bridge_holder.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <string_view>

#include "settings/settings_files.h"
#include "settings/settings_text.h"
#include "serial/device_holders.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view bridge_program = "relayboard-mqtt";

// The value of option `key` ("--key value" or "--key=value"); the first one counts, as
// the bridge refuses a second.
std::optional<std::string> option(const std::vector<std::string>& words, std::string_view key) {
  const std::string flag = "--" + std::string(key);
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == flag && i + 1 < words.size()) return words[i + 1];
    if (words[i].starts_with(flag + '=')) return words[i].substr(flag.size() + 1);
  }
  return std::nullopt;
}

// The value of `key` in the bridge's configuration file, read as the bridge reads it;
// nothing from a file that the bridge would refuse.
std::optional<std::string> config_value(std::string_view text, std::string_view key) {
  const auto lines = settings_lines(text, {}, {.repeatable = {"schedule"}});
  const auto* read = std::get_if<std::vector<SettingsLine>>(&lines);
  if (!read) return std::nullopt;
  for (const SettingsLine& line : *read) {
    if (line.key == key) return std::string(line.value);
  }
  return std::nullopt;
}

// Text from another process's command line reaches the operator only as a name the
// bridge itself would take: [A-Za-z0-9_-].
bool line_name(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
  });
}

// A command line or a configuration is small; more is no file of the bridge's. The
// bounded read never waits on a FIFO that another user may have put in its place.
std::optional<std::string> read_small_file(const fs::path& path) {
  return read_limited_file(path, settings_file_byte_limit).text;
}

}  // namespace

std::string bridge_line_name(
    const std::vector<std::string>& words,
    const std::function<std::optional<std::string>(const std::string&)>& read_config) {
  std::optional<std::string> config_text;
  if (const auto config = option(words, "config")) {
    config_text = read_config(*config);
    // The file decides the line unless the command line does; unread, nobody can tell.
    if (!config_text && !option(words, "line")) return {};
  }
  const auto setting = [&](std::string_view key) {
    if (auto value = option(words, key)) return value;
    return config_text ? config_value(*config_text, key) : std::nullopt;
  };
  std::string name;
  if (const auto line = setting("line")) {
    name = *line;
  } else if (const auto device = setting("device")) {
    name = fs::path(*device).filename().string();
  } else {
    // The bridge reads the number as a number: --port 03 serves com3.
    const std::string port = setting("port").value_or("1");
    int number = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    name =
        "com" +
        (error == std::errc{} && end == port.data() + port.size() ? std::to_string(number) : port);
  }
  return line_name(name) ? name : std::string();
}

std::optional<std::string> served_line(long long pid, const std::string& proc) {
  const fs::path process = fs::path(proc) / std::to_string(pid);
  const std::optional<std::string> command_line = read_small_file(process / "cmdline");
  if (!command_line || command_line->empty()) return std::nullopt;
  std::vector<std::string> words;
  for (std::string_view rest = *command_line; !rest.empty();) {
    const std::size_t end = rest.find('\0');
    words.emplace_back(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  }
  if (fs::path(words.front()).filename() != bridge_program &&
      process_name(pid, proc) != bridge_program) {
    return std::nullopt;
  }
  words.erase(words.begin());
  // A relative file is the bridge's, from its own working folder.
  return bridge_line_name(words, [&](const std::string& file) -> std::optional<std::string> {
    if (fs::path(file).is_absolute()) return read_small_file(file);
    std::error_code error;
    const fs::path folder = fs::read_symlink(process / "cwd", error);
    if (error) return std::nullopt;
    return read_small_file(folder / file);
  });
}

std::string served_port_text(const std::string& line) {
  return "the port is served by relayboard-mqtt" + (line.empty() ? "" : " as line " + line) +
         ": open it as a served line, see relayctl(1) --broker";
}
