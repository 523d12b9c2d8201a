#pragma once

#include <cstdint>

#include "protocol/frame.h"

// The board's answer, in wire order: 22, four bytes that are only summed,
// states of relays 9..16, states of relays 1..8, checksum. Bit k of a state
// byte is relay (first + k); 1 means opened.
struct StatusFrame {
  static constexpr std::uint8_t header = 0x22;

  FrameBytes bytes{};

  // Only the header and the checksum are examined; the address bytes are not.
  bool is_valid() const;

  // A frame carrying the given relay states (bit r-1 set: relay r opened), for the
  // virtual board and tests.
  static StatusFrame build(std::uint16_t opened_mask, std::uint8_t address = 0);

  friend bool operator==(const StatusFrame&, const StatusFrame&) = default;
};

// Bit n (0 = least significant) of value: 0 or 1; 0 for n outside 0..7.
int relay_state_bit(std::uint8_t value, std::int16_t n);
