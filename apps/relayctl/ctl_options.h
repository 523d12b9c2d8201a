#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

enum class CtlCommand {
  Status,
  Open,
  Close,
  Pulse,
  Watch,
  Names,
  Rename,
  Scan,
  Lines,
  Log,
  Schedule
};

// What relayctl's command line asks for, checked as far as it can be without the
// name file.
struct CtlOptions {
  std::string port_text = "1";        // as typed in the panel's port box
  std::optional<std::string> device;  // a device path instead of a port number
  std::string address_text = "1";     // as typed in the panel's address box
  // Several boards on the line (status and watch), sorted; empty for the one board of
  // address_text.
  std::vector<std::uint8_t> addresses;
  // The addresses a scan asks.
  int scan_from = 0;
  int scan_to = 255;
  std::optional<std::filesystem::path> names_file;
  bool json = false;
  bool inverse = false;
  // Use a password file that other users can read.
  bool allow_readable_password_file = false;
  // Send the password to a broker elsewhere without TLS (also allow-plain-password = yes
  // in the client configuration file).
  bool allow_plain_password = false;
  std::chrono::milliseconds timeout{200};
  bool timeout_given = false;  // scan waits less by default: see scan_boards
  CtlCommand command = CtlCommand::Status;
  std::vector<std::string> arguments;  // what follows the command
  // A line that a bridge serves, through its broker (--broker mqtt[s]://host[:port]),
  // instead of a port; unset keys may come from the client configuration file.
  std::optional<std::string> broker;
  std::string broker_host;
  int broker_port = 0;
  std::optional<std::string> line;
  std::optional<std::string> prefix;
  std::optional<std::filesystem::path> cafile;
  std::optional<std::string> user;
  std::optional<std::filesystem::path> password_file;
  std::optional<std::filesystem::path> config;
  bool local_line_given = false;  // --port or --device: the config's broker does not apply
  // log: from when (as typed; read against the clock when the log is read), which
  // board or relay ("A" or "A/R"), and CSV instead of lines or JSON.
  std::optional<std::string> since;
  std::optional<std::uint8_t> log_address;
  std::optional<int> log_relay;
  bool csv = false;
  bool help = false;
  bool command_help = false;  // COMMAND --help: that command's help alone
  bool version = false;
  bool verbose = false;  // -v: the configuration file read, on stderr
};

// The options, or a one-line message saying what is wrong with the command line. An
// option's value follows it as the next word or after '=' (--port=3).
std::variant<CtlOptions, std::string> parse_ctl_options(int argc, const char* const argv[]);

// Whether the command line asks for JSON, so that even a command line that is refused
// is answered in it.
bool json_asked(int argc, const char* const argv[]);

// Fills the served-line keys the command line left unset from a client configuration
// file's text (common/settings_text.h, comments after a value); the message for a bad
// line, "<file_name>:<line>: why".
std::optional<std::string> apply_client_config(CtlOptions& options, std::string_view text,
                                               const std::string& file_name);
// Checks the served-line options once both sources are in, and reads the broker URL;
// the message when they do not fit together.
std::optional<std::string> finish_served_options(CtlOptions& options);

// The help text; the log command only where the build keeps the event log.
std::string ctl_usage(bool event_log = true);
