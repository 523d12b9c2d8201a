#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "bridge/bridge_core.h"
#include "bridge/discovery.h"
#include "mqtt/mqtt_client.h"
#include "schedule/timetable_entry.h"

// What the bridge daemon is asked to do, from its command line and its configuration
// file. After parse_bridge_options every derived default is filled in: `line`,
// `client_id` and `mqtt_port` hold the values to use, `password` the password file's
// first line.
struct BridgeOptions {
  std::optional<std::filesystem::path> config;
  // The serial line: a port number under the panel's port-to-device rule, or a device.
  // Exactly one is set; port 1 when neither is given.
  std::optional<std::int16_t> port;
  std::optional<std::string> device;
  std::vector<std::uint8_t> addresses{1};
  std::chrono::milliseconds answer_timeout{40};  // how long each board's answer may take
  std::optional<std::filesystem::path> names;    // unset: the panel's state folder rule
  std::string line;                              // [A-Za-z0-9_-]+
  std::string host = "localhost";
  int mqtt_port = 1883;  // 8883 with TLS unless given
  std::string client_id;
  std::string user;
  std::optional<std::filesystem::path> password_file;
  std::string password;
  // Whether a password file that others may read is used all the same.
  bool allow_readable_password_file = false;
  // Whether the password goes in clear to a broker elsewhere, without TLS.
  bool allow_plain_password = false;
  std::optional<std::filesystem::path> cafile;  // TLS on when given
  std::optional<std::filesystem::path> certfile;
  std::optional<std::filesystem::path> keyfile;
  MqttVersion mqtt_version = MqttVersion::v5;
  std::string prefix = "relayboard";
  std::string discovery_prefix = "homeassistant";
  bool discovery = true;
  DiscoveryForm discovery_form = DiscoveryForm::device;
  std::chrono::milliseconds button_pulse{1000};  // the pulse each relay's button sends
  std::string board_manufacturer;                // the boards' make, in their devices
  std::string board_model = "16-relay board";
  bool json_state = false;  // also P/L/A/state, all 16 in one message
  // The event log's limits as set here (log-max-events, log-max-age), checked, in
  // order: over those of the state folder's events.conf.
  std::vector<std::pair<std::string, std::string>> log_limits;
  bool verbose = false;
  // The timetable, one `schedule = ...` line per entry, in order; each entry's board is
  // served. Entries on the command line replace those of the file.
  std::vector<TimetableEntry> schedule;
  // The web page: where it listens (ADDRESS:PORT, off when unset), its TLS files and the
  // users who may log in.
  std::optional<std::string> web;
  std::optional<std::filesystem::path> web_cert;
  std::optional<std::filesystem::path> web_key;
  std::optional<std::filesystem::path> web_users;
  // Add this user to the web users file (or give them a new password), and leave.
  std::optional<std::string> add_web_user;
  std::string web_role = "operator";  // of the user added
  // Clear the retained topics of this line, which no bridge serves any more, and leave.
  std::optional<std::string> forget_line;
  bool help = false;     // print bridge_usage() and leave
  bool version = false;  // print the version and leave

  bool tls() const { return cafile.has_value(); }
};

// A command line or configuration the daemon refuses (exit code 2), said in one line:
// the option or the file:line and key concerned, and what is wrong.
struct OptionsError {
  std::string message;
};

using BridgeOptionsResult = std::variant<BridgeOptions, OptionsError>;

// The command line, and the configuration file it names (--config FILE): `key = value`
// lines whose key is a long option without "--" (common/settings_text.h: comments after a
// value, each key once but `schedule`). A flag's
// value in the file is true/false (yes/no, 1/0). The command line overrides the file; an
// option's value follows it as the next word or after '=' (--port=3). Reads the config
// and password files from disk; --help and --version stop at nothing else.
BridgeOptionsResult parse_bridge_options(int argc, const char* const argv[]);

// The same from a list of words (without the program's name); the default client id
// carries `host_name` when it is given.
BridgeOptionsResult parse_bridge_options(const std::vector<std::string>& words,
                                         std::string_view host_name = {});

// The timetable of the configuration file at `path` alone (its `schedule = ...` lines),
// for a reader that shows its runs; the file's first fault as "FILE:LINE: why". Nothing
// else of the file is checked, and no file it names is read.
std::variant<std::vector<TimetableEntry>, std::string> read_config_timetable(
    const std::filesystem::path& path);

// Whether the TLS files can be read (and are no larger than any such file): the MQTT
// library would only say that they cannot be used.
std::optional<OptionsError> check_bridge_files(const BridgeOptions& options);

// Whether a line name may appear in topics: [A-Za-z0-9_-], at least one character.
bool valid_line_name(std::string_view name);

// The --help text: the options of every system, then the system's own and its exit
// statuses.
std::string bridge_usage();
std::string bridge_system_options();
std::string bridge_password_file_rule();  // who may read it: modes or an access list
std::string bridge_system_closing();

// What the bridge's logic takes of the options, with the version it reports.
BridgeSettings bridge_settings(const BridgeOptions& options, std::string version);
