#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The bridge's topics. P is the prefix, L the line, A an address (decimal, 0..255), R a
// relay (1..16), D the discovery prefix:
//   P/L/status                 the bridge's availability ("online"; last will "offline")
//   P/L/client                 the client id of the bridge that serves the line
//   P/L/A/status               a board's availability
//   P/L/A/R/state              a relay's state, "ON" (opened) or "OFF" (closed)
//   P/L/A/R/set, P/L/A/all/set switch commands
//   P/L/A/R,R.../set           several relays switched as one command (1,2: ascending)
//   P/L/A/R/pulse              a pulse command (P/L/A/R,R.../pulse: of several relays)
//   P/L/A/R/name/set           a rename: the relay's new name (UTF-8)
//   P/L/A/names                a board's title and 16 names (retained JSON)
//   P/L/A/result               what became of each command (JSON, not retained)
//   P/L/A/refusal              the last command refused for the board (its result, retained)
//   P/L/info                   what the bridge serves (retained JSON)
//   P/L/A/state                a board's 16 states in one JSON message (an option)
//   P/L/schedule               the timetable: each entry's name, next run, pause (JSON)
//   P/L/schedule/N/state       timetable entry N (from 1): "ON" runs, "OFF" paused (retained)
//   P/L/schedule/N/set         pauses ("OFF") or resumes ("ON") entry N
//   D/device/relayboard_L_A/config, D/switch/relayboard_L_A/relayR/config, ..., D/status
//                              discovery (relayboard_L_bridge: the bridge's own device)

enum class CommandAction { set, pulse, rename };

// P/L/A/R/set, P/L/A/R/pulse, P/L/A/R/name/set or P/L/A/all/set, or a list of relays.
struct CommandTopic {
  std::uint8_t address = 0;
  int relay = 0;  // 1..16; 0 for all or a list
  CommandAction action = CommandAction::set;
  std::uint16_t relays = 0;  // a list of two or more (bit r-1 for relay r)
  friend bool operator==(const CommandTopic&, const CommandTopic&) = default;
};
// P/L/A/status: a board's availability, ours or left by an earlier run.
struct BoardStatusTopic {
  std::uint8_t address = 0;
  friend bool operator==(const BoardStatusTopic&, const BoardStatusTopic&) = default;
};
// P/L/status or P/L/client: the line's own, read at start to learn who serves it.
struct LineTopic {
  friend bool operator==(const LineTopic&, const LineTopic&) = default;
};
// D/status: the home automation's own availability.
struct DiscoveryStatusTopic {
  friend bool operator==(const DiscoveryStatusTopic&, const DiscoveryStatusTopic&) = default;
};
// Anything else: the reason, for the log line.
struct ForeignTopic {
  std::string why;
  friend bool operator==(const ForeignTopic&, const ForeignTopic&) = default;
};

using IncomingTopic =
    std::variant<CommandTopic, BoardStatusTopic, DiscoveryStatusTopic, ForeignTopic, LineTopic>;

// The topics of one line.
class BridgeTopics {
 public:
  BridgeTopics(std::string prefix, std::string line, std::string discovery_prefix);

  std::string bridge_status() const;
  std::string line_client() const;
  std::string board_status(std::uint8_t address) const;
  std::string relay_state(std::uint8_t address, int relay) const;
  std::string relay_set(std::uint8_t address, int relay) const;
  std::string relay_pulse(std::uint8_t address, int relay) const;
  std::string line_info() const;
  std::string board_state(std::uint8_t address) const;
  std::string discovery_status() const;
  std::string board_result(std::uint8_t address) const;
  std::string board_refusal(std::uint8_t address) const;
  std::string all_set(std::uint8_t address) const;
  std::string board_names(std::uint8_t address) const;
  std::string relay_rename(std::uint8_t address, int relay) const;
  std::string timetable() const;
  std::string schedule_state(std::size_t entry) const;
  std::string schedule_set(std::size_t entry) const;
  // The timetable entry (from 1) whose set topic (or `leaf` topic) `topic` is, if it is one.
  std::optional<std::size_t> schedule_entry(std::string_view topic,
                                            std::string_view leaf = "set") const;
  // The board whose result topic answers a command on `topic` (P/L/A/.../set, pulse or name/set),
  // even one this bridge does not take; nothing when the topic names no address.
  std::optional<std::uint8_t> result_board(std::string_view topic) const;
  // What the bridge subscribes to, discovery's status last (only when `discovery`).
  std::vector<std::string> subscriptions(bool discovery) const;

  // What a received topic is. Addresses and relays are plain decimal without leading
  // zeros, so that one board has one spelling.
  IncomingTopic parse(std::string_view topic) const;

  const std::string& line() const { return line_; }
  const std::string& prefix() const { return prefix_; }
  const std::string& discovery_prefix() const { return discovery_prefix_; }

 private:
  std::string prefix_;
  std::string line_;
  std::string discovery_prefix_;
};

enum class SwitchPayload { on, off, toggle };

// "ON", "OFF", "TOGGLE", exactly so.
std::optional<SwitchPayload> parse_switch_payload(std::string_view payload);

// A duration as every program takes it (parse_duration: "500ms", "1.5s", "2m"), from
// 10 ms to an hour.
std::optional<std::chrono::milliseconds> parse_pulse_duration(std::string_view payload);

// A topic level that is a plain decimal (no sign, blank or leading zero) of at most
// `highest`: an address or a relay.
std::optional<int> plain_number(std::string_view text, int highest);
