#include "bridge_options.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "bridge/host_name.h"
#include "common/address_list.h"
#include "common/duration_text.h"
#include "common/text_number.h"
#include "event_log/log_limits.h"
#include "mqtt/bridge_topics.h"
#include "settings/settings_files.h"
#include "settings/settings_text.h"
#include "text/shown_text.h"
#include "text/utf8.h"

namespace {

constexpr std::array<std::string_view, 18> valued_keys = {"config",
                                                          "port",
                                                          "device",
                                                          "addresses",
                                                          "names",
                                                          "line",
                                                          "host",
                                                          "mqtt-port",
                                                          "client-id",
                                                          "user",
                                                          "password-file",
                                                          "cafile",
                                                          "certfile",
                                                          "keyfile",
                                                          "mqtt-version",
                                                          "prefix",
                                                          "discovery-prefix",
                                                          "answer-timeout"};
// A task for one run, taken on the command line only.
constexpr std::string_view forget_key = "forget-line";
// A timetable entry: given once per entry.
constexpr std::string_view schedule_key = "schedule";
constexpr std::string_view add_web_user_key = "add-web-user";
constexpr std::array<std::string_view, 5> web_keys = {"web", "web-cert", "web-key", "web-users",
                                                      "web-role"};
constexpr std::array<std::string_view, 4> discovery_keys = {"discovery-form", "button-pulse",
                                                            "board-manufacturer", "board-model"};
constexpr std::array<std::string_view, 2> log_keys = {log_max_events_key, log_max_age_key};
constexpr std::array<std::string_view, 5> flag_keys = {"no-discovery", "verbose", "json-state",
                                                       "allow-readable-password-file",
                                                       "allow-plain-password"};
// Values that go to the broker as MQTT strings, which must be UTF-8 without controls: a
// broker or libmosquitto refuses anything else only once the daemon runs.
constexpr std::array<std::string_view, 6> mqtt_text_keys = {
    "prefix", "discovery-prefix", "client-id", "user", "board-manufacturer", "board-model"};

bool is_one_of(std::string_view key, const auto& keys) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

// One setting and where it was made: "--port" or "FILE:LINE: port".
struct Setting {
  std::string key;
  std::string value;
  std::string origin;
};

std::optional<OptionsError> config_settings(const std::filesystem::path& path,
                                            std::vector<Setting>& settings) {
  const FileText read = read_settings_file(path);
  if (!read.text) return OptionsError{"configuration file " + read.reason};
  auto lines = settings_lines(*read.text, path.string(), {.repeatable = {schedule_key}});
  if (auto* why = std::get_if<std::string>(&lines)) return OptionsError{std::move(*why)};
  for (const SettingsLine& line : std::get<std::vector<SettingsLine>>(lines)) {
    const std::string where = path.string() + ':' + std::to_string(line.number);
    const std::string key(line.key);
    if (!is_one_of(key, valued_keys) && !is_one_of(key, discovery_keys) &&
        !is_one_of(key, log_keys) && !is_one_of(key, flag_keys) && key != schedule_key &&
        !is_one_of(key, web_keys)) {
      return OptionsError{where + ": unknown key \"" + key + '"'};
    }
    if (key == "config") return OptionsError{where + ": config: a file names no other file"};
    settings.push_back({key, std::string(line.value), where + ": " + key});
  }
  return std::nullopt;
}

std::optional<bool> flag_value(std::string_view text) {
  if (text == "true" || text == "yes" || text == "1") return true;
  if (text == "false" || text == "no" || text == "0") return false;
  return std::nullopt;
}

// A topic level sequence of our own: no wildcard, no empty level.
bool valid_topic_root(std::string_view root) {
  if (root.empty() || root.front() == '/' || root.back() == '/') return false;
  if (root.find("//") != std::string_view::npos) return false;
  return root.find_first_of("+#") == std::string_view::npos &&
         root.find('\0') == std::string_view::npos;
}

// The value in quotes for a message, escaped as every log line shows outside text.
std::string shown(std::string_view text) {
  return '"' + shown_text(text) + '"';
}

// Why a value cannot be an MQTT string, nothing when it can.
std::optional<std::string> mqtt_text_problem(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = utf8_sequence_length(text, pos);
    if (length == 0) return shown(text) + " is not UTF-8 text";
    if (is_control(utf8_code_point(text, pos, length))) {
      return shown(text) + " holds a control character";
    }
    pos += length;
  }
  return std::nullopt;
}

// The most bytes a value may hold: an MQTT string holds 65535, and every topic is built
// of a prefix, the line's name and a few short levels; a host name has at most 253.
std::size_t byte_limit(std::string_view key) {
  if (key == "client-id" || key == "user") return 65535;
  if (key == "prefix" || key == "discovery-prefix" || key == "line") return 1024;
  if (key == "host") return 253;
  return std::string::npos;
}

// The web page's settings, checked when the page starts.
void apply_web(BridgeOptions& options, const Setting& s) {
  if (s.key == "web") options.web = s.value;
  if (s.key == "web-cert") options.web_cert = s.value;
  if (s.key == "web-key") options.web_key = s.value;
  if (s.key == "web-users") options.web_users = s.value;
  if (s.key == "web-role") options.web_role = s.value;
  if (s.key == add_web_user_key) options.add_web_user = s.value;
}

// Applies one setting; the error names its origin.
std::optional<OptionsError> apply(BridgeOptions& options, const Setting& s) {
  const auto refused = [&](const std::string& why) { return OptionsError{s.origin + ": " + why}; };
  const std::string& v = s.value;
  if (is_one_of(s.key, flag_keys)) {
    const std::optional<bool> on = flag_value(v);
    if (!on) return refused('"' + v + "\" is not true or false");
    if (s.key == "verbose") options.verbose = *on;
    if (s.key == "no-discovery") options.discovery = !*on;
    if (s.key == "allow-readable-password-file") options.allow_readable_password_file = *on;
    if (s.key == "allow-plain-password") options.allow_plain_password = *on;
    if (s.key == "json-state") options.json_state = *on;
    return std::nullopt;
  }
  if (v.empty()) return refused("needs a value");
  if (v.size() > byte_limit(s.key)) {
    return refused(std::to_string(v.size()) + " bytes, longer than " +
                   std::to_string(byte_limit(s.key)));
  }
  if (is_one_of(s.key, mqtt_text_keys)) {
    if (auto why = mqtt_text_problem(v)) return refused(*why);
  }
  if (s.key == "config") {
    options.config = v;
  } else if (s.key == "port") {
    // The panel's own conversion of its port box.
    const std::optional<std::int16_t> port = text_to_int16(v);
    if (!port || *port <= 0) return refused('"' + v + "\" is not a port number");
    options.port = port;
    options.device.reset();
  } else if (s.key == "device") {
    options.device = v;
    options.port.reset();
  } else if (s.key == "addresses") {
    auto list = parse_address_list(v);
    if (const auto* why = std::get_if<std::string>(&list)) return refused(*why);
    options.addresses = std::get<std::vector<std::uint8_t>>(std::move(list));
  } else if (s.key == "names") {
    options.names = v;
  } else if (s.key == "line" || s.key == forget_key) {
    if (!valid_line_name(v)) return refused('"' + v + "\" holds more than A-Z a-z 0-9 _ -");
    (s.key == "line" ? options.line : options.forget_line.emplace()) = v;
  } else if (s.key == "host") {
    options.host = v;
  } else if (s.key == "mqtt-port") {
    int port = 0;
    const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), port);
    if (error != std::errc() || end != v.data() + v.size() || port < 1 || port > 65535) {
      return refused('"' + v + "\" is not a TCP port");
    }
    options.mqtt_port = port;
  } else if (s.key == "client-id") {
    options.client_id = v;
  } else if (s.key == "user") {
    options.user = v;
  } else if (s.key == "password-file") {
    options.password_file = v;
  } else if (s.key == "cafile") {
    options.cafile = v;
  } else if (s.key == "certfile") {
    options.certfile = v;
  } else if (s.key == "keyfile") {
    options.keyfile = v;
  } else if (s.key == "mqtt-version") {
    if (v == "5") {
      options.mqtt_version = MqttVersion::v5;
    } else if (v == "3.1.1") {
      options.mqtt_version = MqttVersion::v311;
    } else {
      return refused('"' + v + "\" is neither 3.1.1 nor 5");
    }
  } else if (s.key == "discovery-form") {
    if (v != "device" && v != "entity") return refused('"' + v + "\" is neither device nor entity");
    options.discovery_form = v == "device" ? DiscoveryForm::device : DiscoveryForm::entity;
  } else if (is_one_of(s.key, log_keys)) {
    EventLogLimits checked;
    if (auto why = apply_log_limit(checked, s.key, v)) return refused(*why);
    options.log_limits.emplace_back(s.key, v);
  } else if (s.key == "answer-timeout") {
    // One exchange takes 17 ms at 9600 baud: a shorter wait could never be met. A long
    // one holds the whole line after each miss.
    int ms = 0;
    const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), ms);
    if (error != std::errc() || end != v.data() + v.size() || ms < 20 || ms > 10'000) {
      return refused('"' + v + "\" is not a time in milliseconds from 20 to 10000");
    }
    options.answer_timeout = std::chrono::milliseconds(ms);
  } else if (s.key == "board-manufacturer") {
    options.board_manufacturer = v;
  } else if (s.key == "board-model") {
    options.board_model = v;
  } else if (s.key == "button-pulse") {
    const auto pulse = parse_pulse_duration(v);
    if (!pulse) {
      return refused('"' + v + "\" is not a duration from 10ms to 1h (" +
                     std::string(duration_form) + ')');
    }
    options.button_pulse = *pulse;
  } else if (is_one_of(s.key, web_keys) || s.key == add_web_user_key) {
    apply_web(options, s);
  } else if (s.key == "prefix" || s.key == "discovery-prefix") {
    if (!valid_topic_root(v)) return refused('"' + v + "\" is not a topic without wildcards");
    (s.key == "prefix" ? options.prefix : options.discovery_prefix) = v;
  }
  return std::nullopt;
}

// The entries of the command line, else those of the file; each names a served board.
std::optional<OptionsError> read_schedule(BridgeOptions& options,
                                          const std::vector<Setting>& settings,
                                          std::size_t from_command_line) {
  const auto is_entry = [](const Setting& s) { return s.key == schedule_key; };
  const auto command_line = settings.begin() + static_cast<std::ptrdiff_t>(from_command_line);
  std::vector<TimetableLine> lines;
  for (auto s = std::any_of(command_line, settings.end(), is_entry) ? command_line
                                                                    : settings.begin();
       s != settings.end(); ++s) {
    if (is_entry(*s)) lines.push_back({s->value, s->origin});
  }
  auto parsed = parse_timetable(lines);
  if (const auto* why = std::get_if<std::string>(&parsed)) return OptionsError{*why};
  options.schedule = std::get<std::vector<TimetableEntry>>(std::move(parsed));
  for (std::size_t at = 0; at < lines.size(); ++at) {
    const auto address = options.schedule[at].address;
    if (std::find(options.addresses.begin(), options.addresses.end(), address) ==
        options.addresses.end()) {
      return OptionsError{lines[at].where + ": board " + std::to_string(address) +
                          " is not served (addresses)"};
    }
  }
  return std::nullopt;
}

}  // namespace

std::variant<std::vector<TimetableEntry>, std::string> read_config_timetable(
    const std::filesystem::path& path) {
  std::vector<Setting> settings;
  if (auto error = config_settings(path, settings)) return std::move(error->message);
  std::vector<TimetableLine> lines;
  for (const Setting& s : settings) {
    if (s.key == schedule_key) lines.push_back({s.value, s.origin});
  }
  return parse_timetable(lines);
}

namespace {

// Port and device are one choice: the same source may make it once.
std::optional<OptionsError> check_one_line(const std::vector<Setting>& settings) {
  const Setting* first = nullptr;
  for (const Setting& s : settings) {
    if (s.key != "port" && s.key != "device") continue;
    if (first && first->key != s.key) {
      return OptionsError{s.origin + ": give either port or device, not both"};
    }
    first = &s;
  }
  return std::nullopt;
}

// The machine's short name as a client id may carry it: letters, digits and '-'.
std::string client_id_host(std::string_view host_name) {
  std::string out;
  for (const char c : host_name.substr(0, host_name.find('.'))) {
    if (out.size() == 32) break;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-') {
      out.push_back(c);
    }
  }
  return out;
}

// The defaults that follow from the other settings, and the password.
std::optional<OptionsError> settle(BridgeOptions& options, bool mqtt_port_given,
                                   std::string_view host_name) {
  if (!options.port && !options.device) options.port = 1;
  if (options.line.empty()) {
    const std::string derived = options.device
                                    ? std::filesystem::path(*options.device).filename().string()
                                    : "com" + std::to_string(*options.port);
    if (!valid_line_name(derived)) {
      return OptionsError{"the device's name \"" + derived +
                          "\" cannot name the line in topics: give --line"};
    }
    options.line = derived;
  }
  if (options.client_id.empty()) {
    // Two hosts that serve a line of the same name differ, and the second one is told
    // whom it meets on the broker.
    const std::string host = client_id_host(host_name);
    options.client_id = "relayboard-mqtt-" + (host.empty() ? "" : host + '-') + options.line;
  }
  if (!mqtt_port_given && options.tls()) options.mqtt_port = 8883;
  if ((options.certfile.has_value() != options.keyfile.has_value()) ||
      (options.certfile && !options.cafile)) {
    return OptionsError{"--certfile and --keyfile go together, and with --cafile"};
  }
  if (options.password_file) {
    if (options.user.empty()) return OptionsError{"--password-file needs --user"};
    const std::string about = "password file " + options.password_file->string() + ": ";
    if (!options.allow_readable_password_file) {
      if (auto exposure = secret_file_exposure(*options.password_file)) {
        return OptionsError{about + *exposure + ", or give --allow-readable-password-file"};
      }
    }
    const FileText read = read_settings_file(*options.password_file);
    if (!read.text) return OptionsError{"password file " + read.reason};
    const std::string& text = *read.text;
    std::string_view first_line = std::string_view(text).substr(0, text.find('\n'));
    if (!first_line.empty() && first_line.back() == '\r') first_line.remove_suffix(1);
    options.password = first_line;
  }
  return std::nullopt;
}

}  // namespace

bool valid_line_name(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
  });
}

BridgeOptionsResult parse_bridge_options(const std::vector<std::string>& words,
                                         std::string_view host_name) {
  BridgeOptions options;
  std::vector<Setting> given;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--help" || word == "-h") {
      options.help = true;
      continue;
    }
    if (word == "--version" || word == "-V") {
      options.version = true;
      continue;
    }
    if (word == "-v") {
      given.push_back({"verbose", "true", "-v"});
      continue;
    }
    if (word.size() < 3 || word.compare(0, 2, "--") != 0) {
      return OptionsError{"unexpected argument \"" + word + "\" (see --help)"};
    }
    const std::size_t equals = word.find('=');
    const std::string key = word.substr(2, equals == std::string::npos ? equals : equals - 2);
    const std::string option = "--" + key;
    if (is_one_of(key, flag_keys)) {
      if (equals != std::string::npos) return OptionsError{option + " takes no value"};
      given.push_back({key, "true", option});
    } else if (is_one_of(key, valued_keys) || is_one_of(key, discovery_keys) ||
               is_one_of(key, log_keys) || key == forget_key || key == schedule_key ||
               is_one_of(key, web_keys) || key == add_web_user_key) {
      if (equals != std::string::npos) {
        given.push_back({key, word.substr(equals + 1), option});
      } else if (i + 1 < words.size()) {
        given.push_back({key, words[++i], option});
      } else {
        return OptionsError{option + " needs a value"};
      }
    } else {
      return OptionsError{"unknown option " + option + " (see --help)"};
    }
  }
  if (options.help || options.version) return options;

  std::vector<Setting> settings;
  for (const Setting& s : given) {
    if (s.key == "config") options.config = s.value;
  }
  if (options.config) {
    if (auto error = config_settings(*options.config, settings)) return *error;
    if (auto error = check_one_line(settings)) return *error;
  }
  if (auto error = check_one_line(given)) return *error;
  const std::size_t from_command_line = settings.size();
  settings.insert(settings.end(), given.begin(), given.end());
  bool mqtt_port_given = false;
  for (const Setting& s : settings) {
    if (auto error = apply(options, s)) return *error;
    mqtt_port_given = mqtt_port_given || s.key == "mqtt-port";
  }
  if (auto error = read_schedule(options, settings, from_command_line)) return *error;
  if (auto error = settle(options, mqtt_port_given, host_name)) return *error;
  return options;
}

std::optional<OptionsError> check_bridge_files(const BridgeOptions& options) {
  const std::pair<const char*, const std::optional<std::filesystem::path>*> files[] = {
      {"cafile", &options.cafile},
      {"certfile", &options.certfile},
      {"keyfile", &options.keyfile},
      {"web-cert", &options.web_cert},
      {"web-key", &options.web_key}};
  for (const auto& [key, path] : files) {
    if (!*path) continue;
    const FileText read = read_limited_file(**path, certificate_file_byte_limit);
    if (!read.text)
      return OptionsError{std::string(key) + " " + (*path)->string() + ": " + read.reason};
  }
  return std::nullopt;
}

BridgeOptionsResult parse_bridge_options(int argc, const char* const argv[]) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
  return parse_bridge_options(words, this_host_name());
}

std::string bridge_usage() {
  return R"(Usage: relayboard-mqtt [--config FILE] [--port N | --device PATH] [options]

Serves the 16-relay boards of one serial line to an MQTT broker: their states, their
availability, switch and pulse commands, and discovery documents for home automation.

  --config FILE            key = value lines, one per option below (without "--")
  --port N                 the serial port by number, as the panel maps it (default 1)
  --device PATH            the serial device itself
  --addresses LIST         the boards to serve, e.g. 1,3,5-7 (default 1)
  --answer-timeout MS      how long a board's answer may take (default 40); a later
                           answer is logged, and awaited so that no other board gets it
  --names FILE             the name file (default: the panel's)
  --line NAME              the line's name in topics (default: the device's name, or
                           com<N>); A-Z a-z 0-9 _ - only
  --host HOST              the broker (default localhost)
  --mqtt-port N            default 1883, 8883 with TLS
  --client-id ID           default relayboard-mqtt-<host>-<line>
  --user NAME
  --password-file FILE     the password is the file's first line; refused when others
)" + bridge_password_file_rule() +
         R"(  --allow-readable-password-file
                           use a password file that others can read
  --allow-plain-password   send the password without TLS to a broker that is not
                           this machine (localhost, 127.0.0.1, ::1); refused otherwise
  --cafile FILE            TLS with these certificate authorities
  --certfile FILE          this client's certificate, with --keyfile FILE
  --mqtt-version V         3.1.1 or 5 (default 5)
  --prefix TOPIC           default relayboard
  --discovery-prefix TOPIC default homeassistant
  --discovery-form FORM    device: one document per board (default; Home Assistant
                           2025.10 and later); entity: one per switch and button
  --button-pulse TIME      the pulse each relay's button sends (default 1s)
  --board-manufacturer TEXT
                           who made the boards, for their devices (default: not said)
  --board-model TEXT       the boards' model (default "16-relay board")
  --log-max-events N       the event log keeps at most N events (default 1000000; an
                           events.conf in the state folder sets it for every program)
  --log-max-age AGE        and none older than AGE (48h, 90d; default none)
  --no-discovery           publish no discovery documents
  --json-state             also publish each board's 16 states as one JSON message
  --schedule ENTRY         a timetable entry, once per entry: "at 06:30 mon-fri: 1/3 on",
                           "every day 22:00: 1/all off", "at 07:00: 1/5 pulse 10m",
                           "porch: at 19:00 sat,sun: 2/1-4 on, catch up" (see the manual)
  -v, --verbose            log every command and state change
  --forget-line NAME       clear every retained topic and discovery document of the
                           line NAME, which no bridge serves any more, and leave
)" + bridge_system_options() +
         R"(  -h, --help               show this text
  -V, --version            show the version
An option's value may also follow an equals sign: --port=3. The command line overrides
the configuration file; in the file a flag is "verbose = true".

)" + bridge_system_closing();
}

BridgeSettings bridge_settings(const BridgeOptions& options, std::string version) {
  BridgeSettings settings{options.prefix,    options.line,      options.discovery_prefix,
                          options.discovery, options.addresses, std::move(version),
                          options.verbose};
  settings.retain_as_published = options.mqtt_version == MqttVersion::v5;
  settings.client_id = options.client_id;
  settings.discovery_form = options.discovery_form;
  settings.button_pulse = options.button_pulse;
  settings.board_manufacturer = options.board_manufacturer;
  settings.board_model = options.board_model;
  settings.answer_timeout = options.answer_timeout;
  settings.json_state = options.json_state;
  settings.schedule = options.schedule;
  settings.schedule_since = std::chrono::system_clock::now();
  return settings;
}
