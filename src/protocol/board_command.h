#pragma once

#include <cstdint>

// The command codes the programs send to the board, named for what the board does;
// nothing else ever goes out.
enum class BoardCommand : std::uint8_t {
  QueryStatus = 0x10,   // data 00 00: only report the 16 states
  CloseRelay = 0x11,    // data 00 n: close relay n (a click on an opened relay)
  OpenRelay = 0x12,     // data 00 n: open relay n (a click on a closed relay)
  SetAllRelays = 0x13,  // data FF FF opens all 16, 00 00 closes all 16
};
