#pragma once

#include <array>
#include <string>
#include <string_view>

#include "link/indicator_state.h"
#include "relay_selection.h"

// What relayctl prints, as a table for people or as JSON for scripts.

// Text as a JSON string, quotes included.
std::string json_string(std::string_view text);

std::string_view state_word(IndicatorState state);

// The 16 states with their names (none when there is no name file).
std::string status_text(RelayMask opened, const RelayNames* names);
std::string status_json(int address, RelayMask opened, const RelayNames* names);

std::string names_text(const RelayNames& names);
std::string names_json(int address, const RelayNames& names);

// The relays whose shown state changed since the last call, a line each, in relay order.
class ChangeLines {
 public:
  ChangeLines() { last_.fill(IndicatorState::Unknown); }
  std::string take(const std::array<IndicatorState, relay_count>& shown, bool json);

 private:
  std::array<IndicatorState, relay_count> last_{};
};
