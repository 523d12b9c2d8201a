#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// One thing that happened on a line, as the event log keeps it.
struct Event {
  using Time = std::chrono::time_point<std::chrono::system_clock, std::chrono::milliseconds>;
  enum class Kind { switched, board_lost, board_back, refused, missed };

  Time at{};
  Kind kind = Kind::switched;
  std::string line;  // the port's device or the served line's name
  std::uint8_t address = 0;
  int relay = 0;               // 1 to 16; 0 for the whole board (lost, back, all relays)
  std::optional<bool> was_on;  // switched: the state before, when it was known
  std::optional<bool> now_on;  // switched: the state after
  // Who: "panel", "relayctl", "mqtt", "schedule", "rule", "pulse", "board" (a change
  // at the board that nobody here commanded), "web"; `who` says more where there is
  // more (an MQTT client's id, a user, the rule), `reason` why a command was refused, a
  // timetable's run missed or a rule acted.
  std::string source;
  std::string who;
  std::string reason;

  friend bool operator==(const Event&, const Event&) = default;
};

// "switched", "board lost", "board back", "refused", "missed" (a timetable's run not made).
const char* kind_text(Event::Kind kind);
std::optional<Event::Kind> kind_from_text(const std::string& text);
