#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "common/board_limits.h"

// Relay r is bit r-1, as in the board's status frames.
using RelayMask = std::uint16_t;
inline constexpr RelayMask all_relays = 0xFFFF;

constexpr RelayMask relay_bit(int relay) {
  return static_cast<RelayMask>(1u << (relay - 1));
}

// The names of the 16 relays of one address; nothing when there is no name file.
using RelayNames = std::array<std::string, relay_count>;

// The relays that command-line words name: a number 1..16, a range "3-6", "all", or a
// relay's name from the name file. A one-line message when a word names no relay.
std::variant<RelayMask, std::string> select_relays(std::span<const std::string> words,
                                                   const RelayNames* names);

// Whether select_relays reads the word as relay numbers ("all", "5", "17", "3-6") rather
// than as a name: such a name could never be used.
bool reads_as_relays(std::string_view word);
