#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "mqtt/broker_settings.h"

// Where a served line is reached: the broker and the bridge's prefix and line name.
struct ServedLineAddress {
  std::string host;
  int port = 1883;
  std::string prefix;
  std::string line;
  // mqtts://: TLS with the certificate authority in `cafile`. A user, and the file whose
  // first line is the password, when the broker asks for a login.
  bool tls = false;
  std::string cafile{};
  std::string user{};
  std::string password_file{};
  // N.plain_password: yes sends the password to a broker elsewhere without TLS.
  std::optional<bool> plain_password{};
  // Why this port's mapping cannot be used, "<file>:<line>: why" (empty when it can), and
  // an address that could not be read, as written there.
  std::string fault{};
  std::string written{};
  friend bool operator==(const ServedLineAddress&, const ServedLineAddress&) = default;
};

// "mqtt://host[:port]/prefix/line" (mqtts:// with TLS), as the operator writes it.
std::string line_url(const ServedLineAddress& address);

// The port numbers that name served lines instead of devices, from the state folder's
// lines.conf: one mapping a line, `N = mqtt://host[:port]/prefix/line` (or mqtts://, port
// 8883 unless given); blank lines and lines starting with # say nothing. The prefix may hold
// slashes; the line is the last level. A mapped port's login and TLS follow its mapping as
// `N.cafile = FILE` (needed by mqtts:// and only there), `N.user = NAME` and
// `N.password_file = FILE` (with a user; its first line is the password, and only its
// owner may read it), `N.plain_password = yes` (the password may go in clear).
using LineMap = std::map<std::int16_t, ServedLineAddress>;
inline constexpr std::string_view line_map_file_name = "lines.conf";

// The mappings of `text`. A fault in a port's own lines spoils only that port (its
// `fault`, the first one); a line that names no port spoils them all: the first such
// fault as "<file_name>:<line>: why".
std::variant<LineMap, std::string> parse_line_map(std::string_view text,
                                                  const std::string& file_name);
// The folder's lines.conf; no mappings when there is none.
std::variant<LineMap, std::string> read_line_map(const std::filesystem::path& folder);

// The port box's tooltip for a number that lines.conf maps, e.g. "Port 3:
// mqtt://pi.local/relayboard/ttyUSB0" and the file on a second line; the port's fault, or
// the file's (every open fails then); nothing for a number it does not map.
std::optional<std::string> line_map_tooltip(const std::string& port_text,
                                            const std::filesystem::path& folder);

// The password of `line`'s login, the first line of its password file ("" without one),
// or why it cannot be used: a file that others may read is refused, as relayctl refuses
// it, before the secret travels anywhere, and so is a password that would go in clear
// without plain_password.
std::variant<std::string, std::string> line_password(const ServedLineAddress& line);

// What a panel connects to `line` with, `password` its login's.
BrokerSettings line_broker_settings(const ServedLineAddress& line, std::string password);
