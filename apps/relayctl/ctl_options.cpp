#include "ctl_options.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <vector>

#include "common/address_list.h"
#include "common/board_limits.h"
#include "common/duration_text.h"
#include "common/text_number.h"
#include "ctl_system_text.h"
#include "settings/settings_text.h"

namespace {

struct CommandName {
  std::string_view name;
  CtlCommand command;
  std::size_t min_arguments;
  std::size_t max_arguments;
  std::string_view arguments;  // for the message about a wrong count
};

constexpr CommandName commands[] = {
    {"status", CtlCommand::Status, 0, 0, "no arguments"},
    {"open", CtlCommand::Open, 1, 64, "relays (R...)"},
    {"close", CtlCommand::Close, 1, 64, "relays (R...)"},
    {"pulse", CtlCommand::Pulse, 2, 2, "a relay and a duration (R DURATION)"},
    {"watch", CtlCommand::Watch, 0, 0, "no arguments"},
    {"names", CtlCommand::Names, 0, 0, "no arguments"},
    {"rename", CtlCommand::Rename, 2, 2, "a relay and its new name (R TEXT)"},
    {"scan", CtlCommand::Scan, 0, 0, "no arguments"},
    {"lines", CtlCommand::Lines, 0, 0, "no arguments"},
    {"log", CtlCommand::Log, 0, 0, "no arguments"},
    {"schedule", CtlCommand::Schedule, 0, 1, "at most the bridge's configuration file"},
};

// The edits that turn `a` into `b`: letters put in, left out, changed or two swapped
// ("opne" is one from "open"), capitals as small letters.
std::size_t edit_distance(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const bool same = lower(a[i - 1]) == lower(b[j - 1]);
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) &&
          lower(a[i - 2]) == lower(b[j - 1]))
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

// A word that is no command, with the commands it may have been meant as: those
// nearest, one or two edits away (one for a short word), a command's start ("stat")
// as near as one edit.
std::string not_a_command(std::string_view word) {
  // Appended, not "'" + std::string(word): GCC 12 at -O3 reads that insert as an
  // overlapping copy (-Wrestrict).
  std::string text = "'";
  text.append(word).append("' is not a command");
  // A word far longer than any command is none of them, and not worth the edits.
  if (word.size() > 16) return text;
  const std::size_t most = word.size() <= 3 ? 1 : 2;
  std::size_t best = most + 1;
  std::vector<std::string_view> nearest;
  for (const auto& entry : commands) {
    const bool start = word.size() >= 2 && entry.name.starts_with(word);
    const std::size_t distance = start ? 1 : edit_distance(word, entry.name);
    if (distance < best) nearest.clear();
    if (distance <= std::min(best, most)) {
      best = distance;
      nearest.push_back(entry.name);
    }
  }
  for (std::size_t i = 0; i < nearest.size(); ++i) {
    text += (i == 0                    ? ". Did you mean '"
             : i + 1 == nearest.size() ? " or '"
                                       : ", '") +
            std::string(nearest[i]) + "'";
  }
  return nearest.empty() ? text : text + "?";
}

const CommandName* find_command(std::string_view word) {
  for (const auto& entry : commands) {
    if (entry.name == word) return &entry;
  }
  return nullptr;
}

std::optional<long long> whole_number(std::string_view text) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

constexpr std::string_view duration_limit = ", up to 24h";

// The options that take a value, as the next word or after '=' (--port=3).
constexpr std::string_view valued_options[] = {
    "--port", "--device", "--address", "--names",  "--timeout", "--from",
    "--to",   "--broker", "--line",    "--prefix", "--cafile",  "--password-file",
    "--user", "--config", "--since",   "--relay"};

// A served-line key, from the command line or the client configuration file; false
// when `key` is none.
bool set_served_key(CtlOptions& options, std::string_view key, const std::string& value,
                    bool override) {
  const auto set = [&](auto& field, auto item) {
    if (override || !field) field = item;
  };
  if (key == "broker")
    set(options.broker, value);
  else if (key == "line")
    set(options.line, value);
  else if (key == "prefix")
    set(options.prefix, value);
  else if (key == "user")
    set(options.user, value);
  else if (key == "cafile")
    set(options.cafile, std::filesystem::path(std::u8string(value.begin(), value.end())));
  else if (key == "password-file")
    set(options.password_file, std::filesystem::path(std::u8string(value.begin(), value.end())));
  else
    return false;
  return true;
}

bool takes_value(std::string_view word) {
  return std::find(std::begin(valued_options), std::end(valued_options), word) !=
         std::end(valued_options);
}

// A list of boards reads as one when it has a comma or a range in it; "-1" and "x" stay
// refused as the one address they try to be.
bool names_several_boards(std::string_view text) {
  const auto dash = text.find('-');
  return text.find(',') != std::string_view::npos ||
         (dash != std::string_view::npos && dash > text.find_first_not_of(" \t"));
}

}  // namespace

bool json_asked(int argc, const char* const argv[]) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--") return false;
    if (word == "--json") return true;
    if (takes_value(word)) ++i;
  }
  return false;
}

std::variant<CtlOptions, std::string> parse_ctl_options(int argc, const char* const argv[]) {
  CtlOptions options;
  std::optional<std::string_view> command;
  bool port_given = false;
  bool range_given = false;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view word = argv[i];
    const bool short_option = !options_end && (word == "-h" || word == "-V" || word == "-v");
    if (options_end || (!word.starts_with("--") && !short_option) || word == "--") {
      if (word == "--" && !options_end) {
        options_end = true;
      } else if (!command) {
        command = word;
      } else {
        options.arguments.emplace_back(word);
      }
      continue;
    }
    const auto equals = word.find('=');
    const std::string_view name = word.substr(0, equals);
    const bool inline_value = equals != std::string_view::npos;
    if (inline_value && !takes_value(name)) {
      const bool flag = name == "--help" || name == "--version" || name == "--verbose" ||
                        name == "--json" || name == "--inverse" ||
                        name == "--allow-readable-password-file" ||
                        name == "--allow-plain-password" || name == "--csv";
      return flag ? "option " + std::string(name) + " takes no value"
                  : "unknown option " + std::string(name);
    }
    if (word == "--help" || word == "-h") {
      options.help = true;
    } else if (word == "--version" || word == "-V") {
      options.version = true;
    } else if (word == "--verbose" || word == "-v") {
      options.verbose = true;
    } else if (word == "--json") {
      options.json = true;
    } else if (word == "--inverse") {
      options.inverse = true;
    } else if (word == "--csv") {
      options.csv = true;
    } else if (word == "--allow-readable-password-file") {
      options.allow_readable_password_file = true;
    } else if (word == "--allow-plain-password") {
      options.allow_plain_password = true;
    } else if (!takes_value(name)) {
      return "unknown option " + std::string(word);
    } else {
      if (!inline_value && i + 1 >= argc) return "option " + std::string(word) + " needs a value";
      const std::string value(inline_value ? word.substr(equals + 1) : std::string_view(argv[++i]));
      word = name;
      if (word == "--config") {
        options.config = std::filesystem::path(std::u8string(value.begin(), value.end()));
      } else if (set_served_key(options, word.substr(2), value, true)) {
        if (value.empty()) return std::string(word) + " needs a value";
      } else if (word == "--port") {
        // The panel's own conversion of its port box.
        if (!text_to_int16(value)) return "--port " + value + " is not a port number";
        options.port_text = value;
        port_given = true;
      } else if (word == "--device") {
        if (value.empty()) return "--device needs a device path";
        options.device = value;
      } else if (word == "--address" && names_several_boards(value)) {
        auto list = parse_address_list(value);
        if (const auto* error = std::get_if<std::string>(&list)) return "--address " + *error;
        options.addresses = std::get<std::vector<std::uint8_t>>(std::move(list));
        options.address_text = std::to_string(options.addresses.front());
        // One board, however it was written, is the one-board command as before.
        if (options.addresses.size() == 1) options.addresses.clear();
      } else if (word == "--from" || word == "--to") {
        const auto address = whole_number(value);
        if (!address || *address < 0 || *address > highest_address) {
          return std::string(word) + " " + value + " is not a board address from 0 to 255";
        }
        (word == "--from" ? options.scan_from : options.scan_to) = static_cast<int>(*address);
        range_given = true;
      } else if (word == "--address") {
        options.addresses.clear();
        const auto address = text_to_int16(value);
        if (!address || *address < 0 || *address > highest_address) {
          return "address " + value + " does not exist: board addresses are 0 to 255";
        }
        options.address_text = value;
      } else if (word == "--names") {
        if (value.empty()) return "--names needs a file";
        // The command line is UTF-8 on every system; a plain string would be read in
        // the locale's encoding on Windows.
        options.names_file = std::filesystem::path(std::u8string(value.begin(), value.end()));
      } else if (word == "--since") {
        options.since = value;
      } else if (word == "--relay") {
        const auto slash = value.find('/');
        const auto address = whole_number(std::string_view(value).substr(0, slash));
        const long long relay =
            slash == std::string::npos
                ? 0
                : whole_number(std::string_view(value).substr(slash + 1)).value_or(-1);
        if (!address || *address < 0 || *address > highest_address ||
            (slash != std::string::npos && (relay < 1 || relay > relay_count))) {
          return "--relay " + value + " is not a board (0 to 255) or a board's relay (1/7)";
        }
        options.log_address = static_cast<std::uint8_t>(*address);
        if (relay != 0) options.log_relay = static_cast<int>(relay);
      } else if (word == "--timeout") {
        const auto ms = whole_number(value);
        if (!ms || *ms < 1 || *ms > 600'000) {
          return "--timeout " + value + " is not a time in milliseconds from 1 to 600000";
        }
        options.timeout = std::chrono::milliseconds(*ms);
        options.timeout_given = true;
      }
    }
  }
  // COMMAND --help is that command's help.
  if (options.help && command) {
    const CommandName* known = find_command(*command);
    if (!known) return not_a_command(*command);
    options.command = known->command;
    options.command_help = true;
  }
  if (options.help || options.version) return options;
  if (port_given && options.device) return "give either --port or --device, not both";
  options.local_line_given = port_given || options.device.has_value();
  if (options.local_line_given && options.broker) return "give either a port or --broker, not both";
  if (!command) return "no command given";
  const CommandName* known = find_command(*command);
  if (!known) return not_a_command(*command);
  options.command = known->command;
  const std::size_t count = options.arguments.size();
  if (count < known->min_arguments || count > known->max_arguments) {
    return std::string(known->name) + " takes " + std::string(known->arguments);
  }
  if (options.inverse && options.command != CtlCommand::Pulse) return "--inverse is for pulse only";
  if ((options.since || options.log_address || options.csv) && options.command != CtlCommand::Log)
    return "--since, --relay and --csv are for log only";
  if (options.csv && options.json) return "give either --json or --csv, not both";
  if (options.command == CtlCommand::Log && (options.broker || options.local_line_given))
    return "log reads this machine's event log: it takes no port or --broker";
  if (range_given && options.command != CtlCommand::Scan)
    return "--from and --to are for scan only";
  if (options.scan_from > options.scan_to) {
    return "--from " + std::to_string(options.scan_from) + " is above --to " +
           std::to_string(options.scan_to);
  }
  if (!options.addresses.empty() && options.command != CtlCommand::Status &&
      options.command != CtlCommand::Watch) {
    return "several addresses are for status and watch only";
  }
  if (options.command == CtlCommand::Pulse && !parse_duration(options.arguments[1])) {
    const std::string& text = options.arguments[1];
    const bool signed_text = text.find_first_of("+-") != std::string::npos;
    return text + " is not a duration: " + (signed_text ? "a duration takes no sign; " : "") +
           std::string(duration_form) + std::string(duration_limit);
  }
  return options;
}

std::optional<std::string> apply_client_config(CtlOptions& options, std::string_view text,
                                               const std::string& file_name) {
  auto read = settings_lines(text, file_name, {.no_separator = "not a key = value line"});
  if (auto* why = std::get_if<std::string>(&read)) return std::move(*why);
  // The file allows a password in clear to its own broker, not to one the command line names.
  const bool broker_given = options.broker.has_value() || options.local_line_given;
  bool file_allows_plain = false;
  for (const SettingsLine& line : std::get<std::vector<SettingsLine>>(read)) {
    const std::string where = settings_where(file_name, line.number);
    const std::string_view key = line.key;
    const std::string value(line.value);
    if (value.empty()) return where + std::string(key) + " needs a value";
    // A broker in the file is no reason to leave a port named on the command line.
    if (key == "broker" && options.local_line_given) continue;
    if (key == "allow-plain-password") {
      if (value != "yes" && value != "no") return where + "allow-plain-password is yes or no";
      file_allows_plain = value == "yes";
      continue;
    }
    if (!set_served_key(options, key, value, false))
      return where + "unknown key " + std::string(key);
  }
  if (file_allows_plain && !broker_given) options.allow_plain_password = true;
  return std::nullopt;
}

std::optional<std::string> finish_served_options(CtlOptions& options) {
  // The configuration file's broker is for the commands that reach a line.
  const bool configured_schedule =
      options.command == CtlCommand::Schedule && !options.arguments.empty();
  if (options.command == CtlCommand::Log || configured_schedule) options.broker.reset();
  if (!options.broker) {
    if (options.command == CtlCommand::Lines) return "lines needs --broker";
    if (options.command == CtlCommand::Schedule && !configured_schedule)
      return "schedule needs the bridge's configuration file, or --broker and --line";
    return std::nullopt;
  }
  std::string_view url = *options.broker;
  bool tls = false;
  if (url.starts_with("mqtts://")) {
    tls = true;
    url.remove_prefix(8);
  } else if (url.starts_with("mqtt://")) {
    url.remove_prefix(7);
  } else {
    return "--broker " + *options.broker + " is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]";
  }
  if (url.ends_with('/')) url.remove_suffix(1);
  options.broker_port = tls ? 8883 : 1883;
  const auto colon = url.rfind(':');
  if (colon != std::string_view::npos && url.find(']') == std::string_view::npos) {
    const auto port = whole_number(url.substr(colon + 1));
    if (!port || *port < 1 || *port > 65535)
      return "--broker " + *options.broker + ": no port number";
    options.broker_port = static_cast<int>(*port);
    url = url.substr(0, colon);
  }
  if (url.empty() || url.find('/') != std::string_view::npos) {
    return "--broker " + *options.broker + " names no host";
  }
  options.broker_host = std::string(url);
  if (tls && !options.cafile)
    return "mqtts:// needs --cafile, the authority the broker's certificate is from";
  if (!tls && options.cafile) return "--cafile is for mqtts:// brokers";
  if (!options.prefix) options.prefix = "relayboard";
  if (options.command == CtlCommand::Lines) return std::nullopt;
  if (!options.line) return "a served line needs --line NAME";
  if (options.command == CtlCommand::Scan) return "scan is for a local line only";
  if (!options.addresses.empty()) return "several addresses are for a local line only";
  if (options.inverse) return "--inverse is for a local line only: the bridge pulses ON";
  return std::nullopt;
}

std::string ctl_usage(bool event_log) {
  const CtlSystemText& system = ctl_system_text();
  const std::string log_command =
      event_log
          ? R"(  log                 the event log of this machine's state folder: every switch with
                      its time, board, relay, old and new state and who made it,
                      boards lost and back, refused commands, a line each in local
                      time with its offset from UTC; --since TIME (today, yesterday,
                      2026-12-07, "2026-12-07 03:00", 2026-10-25T02:30+02:00, 90m, 2h,
                      3d), --relay A or A/R, --json or --csv (times in UTC)
)"
          : "";
  return R"(Usage: relayctl [--port N | --device PATH] [--address A] [--names FILE]
                [--json] [--timeout MS] COMMAND [ARGUMENTS]
       relayctl [--port N | --device PATH] [--json] [--timeout MS]
                scan [--from A --to B]
Switches and reads the 16 relays of a board on a serial port, as the panel does.

Commands:
  status              the 16 relays' states and names
  open R...           open the relays (nothing is sent for one already opened)
  close R...          close the relays (nothing is sent for one already closed)
  pulse R DURATION    open, wait DURATION (500ms, 1.5s, 2m, 1h), close
  watch               poll every 50 ms and print each relay's state, then each change,
                      each line headed by its UTC time, until Ctrl+C
  names               the 16 names of the address
  rename R TEXT       store TEXT (UTF-8) as the relay's name, as the panel's rename
                      dialog does; creates the name file when there is none yet. A
                      name that reads as relays (5, 3-6, all) is refused
  scan                the addresses from --from to --to (default 0 to 255) that answer
                      a status query, one a line; each is asked once and waited for
                      25 ms, an exchange at 9600 baud and an adapter's latency, and
                      each that answered is asked again with the whole timeout, so a
                      whole line takes about 6.5 s. With --timeout, each is waited for
                      that long instead (for an adapter slow to pass bytes on)
)" + log_command +
         R"(  schedule [FILE]     each timetable entry's next run, one a line in local time: from
                      the bridge serving --line through --broker, or computed from
                      the bridge's configuration file FILE

R is a relay number 1 to 16, a range such as 3-6, all, or a relay's name from the
name file. open, close and pulse read the states first, send only the switches
that change a relay, and check the result with a final status query. Names are
printed with control characters shown as \u001b and the like.

status and watch also take several boards on the line, --address 1,3,5-7: they
are polled in turn, one request on the line at a time, 40 ms for each answer, and
a board is silent after 5 missed answers in a row. status prints a line per board
("address 5: 1 closed, 2 opened, ..." or "no answer"; --json, an object a line),
watch names the board in each line ("board 5 relay 2 opened"; JSON "address").

Options:
)" + std::string(system.port_option) +
         R"(  --device PATH   the serial device itself, instead of a port number
  --address A     the board address, 0 to 255 (default 1); status and watch also
                  take a list such as 1,3,5-7
)" + std::string(system.names_option) +
         R"(  --json          print JSON (watch: one JSON object per line); errors too, as
                  {"error":"...","exit":N} on stderr
  --timeout MS    how long to wait for each answer; a status query is sent up to
                  3 times (default 200)
  --inverse       pulse: close, wait, open
  --from A, --to B  scan: the first and last address to ask (default 0 and 255)
  --broker URL    a line that relayboard-mqtt serves, through its broker:
                  mqtt://HOST[:PORT] or mqtts://HOST[:PORT]; with --line NAME,
                  --prefix TOPIC, --cafile FILE, --user NAME, --password-file FILE.
                  The same keys (broker = ...) may stand in --config FILE, default
                  )" +
         std::string(system.client_config) +
         R"(. There, lines lists the lines
                  and boards the broker knows; the bridge offline exits 2, the board
                  offline 3, what the broker refuses is "not allowed" (2). A
                  password file that others can read is refused unless
                  --allow-readable-password-file is given. A password goes only
                  over TLS or to this machine (localhost, 127.0.0.1, ::1), unless
                  --allow-plain-password (allow-plain-password = yes) sends it in
                  clear all the same
  -v, --verbose   tell on stderr which configuration file was read
  -h, --help      show this text; COMMAND --help shows that command's alone
  -V, --version   show the version
An option's value may also follow an equals sign: --port=3.

Exit status:
  0  done, also a watch that a signal ended
  1  bad command line or input (unknown command, unknown relay name, relay 0 or 17,
     address 256, a duration that is none), a name that was not stored, or names
     that could not be read
  2  the port could not be opened (missing, port 0, busy, or no access; the message
     says which)
  3  no valid answer from the board within the timeout, after retries; answers that
     came later are named late, with a --timeout that would do. With several
     boards: one of them did not answer (the others are printed); scan: none did
  4  a relay did not reach the state asked for
)" + std::string(system.cut_short) +
         R"(
  6  a relay may be left on: a pulse's end was never confirmed (the board fell
     silent once it had switched; served: the bridge, the board or the broker
     went away, or a signal ended the wait); the message names the relays
)";
}
