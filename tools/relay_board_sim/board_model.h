#pragma once

#include <cstdint>

#include "protocol/command_frame.h"
#include "protocol/status_frame.h"

// The sixteen relays of the virtual board. Relay r is bit r-1 of the mask, set while
// the relay is opened, exactly as the board reports it in its status frames. All
// relays start closed, as after power-up.
class BoardModel {
 public:
  explicit BoardModel(std::uint8_t address) : address_(address) {}

  // Whether a well-formed command frame is meant for this board.
  bool addressed(const CommandFrame& frame) const { return frame.address() == address_; }
  // Carries out a command for this board and returns its status answer. 0x11 n closes
  // relay n, 0x12 n opens it, 0x13 sets all sixteen from the data bytes (data1 relays
  // 9..16, data2 relays 1..8), 0x10 and any other code only report. A relay number
  // outside 1..16 changes nothing.
  StatusFrame handle(const CommandFrame& frame);

  std::uint8_t address() const { return address_; }
  std::uint16_t opened_mask() const { return opened_mask_; }

 private:
  std::uint8_t address_;
  std::uint16_t opened_mask_ = 0;
};
