#pragma once

#include <cstdint>

// The command codes the panel sends to the board; nothing else ever goes out.
enum class BoardCommand : std::uint8_t {
  QueryStatus = 0x10,   // data 00 00
  SwitchOpened = 0x11,  // data 00 n: relay n shows opened and the operator clicked it
  SwitchClosed = 0x12,  // data 00 n: relay n shows closed and the operator clicked it
  SwitchAll = 0x13,     // data FF FF opens all 16, 00 00 closes all 16
};
