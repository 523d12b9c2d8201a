#pragma once

#include <array>
#include <chrono>
#include <string>
#include <string_view>

#include "panel/indicator_state.h"
#include "relay_selection.h"
#include "text/shown_text.h"

// What relayctl prints, as a table for people or as JSON for scripts.

// 2026-12-07T19:42:03.120Z: the time in UTC to the millisecond.
std::string utc_time_text(std::chrono::system_clock::time_point time);

// A line on stderr: "relayctl: TEXT", or with JSON {"error":TEXT,"exit":N} for what
// ended the command and {"notice":TEXT} for what the operator is only told; the text
// escaped as shown_text does, or in JSON as json_text writes it.
std::string error_line(std::string_view text, int exit, bool json);
std::string notice_line(std::string_view text, bool json);

std::string_view state_word(IndicatorState state);

// "relay 5" or "relays 3, 4".
std::string relay_list(RelayMask relays);

// The 16 states with their names (none when there is no name file).
std::string status_text(RelayMask opened, const RelayNames* names);
std::string status_json(int address, RelayMask opened, const RelayNames* names);

std::string names_text(const RelayNames& names);
std::string names_json(int address, const RelayNames& names);

// The relays whose shown state changed since the last call, a line each, in relay order,
// each headed by the time `now` when the change was seen; with an address, each line
// names its board, for a watch of several.
class ChangeLines {
 public:
  explicit ChangeLines(int address = -1) : address_(address) {
    last_.fill(IndicatorState::Unknown);
  }
  std::string take(const std::array<IndicatorState, relay_count>& shown, bool json,
                   std::chrono::system_clock::time_point now);

 private:
  int address_;
  std::array<IndicatorState, relay_count> last_{};
};
