#pragma once

#include <cstdint>

#include "protocol/board_command.h"
#include "protocol/frame.h"

// The request to the board, in wire order:
// 55, address, command, 00, 00, data1, data2, checksum.
struct CommandFrame {
  static constexpr std::uint8_t header = 0x55;

  FrameBytes bytes{};

  static CommandFrame build(std::uint8_t address, std::uint8_t command, std::uint8_t data1,
                            std::uint8_t data2);
  static CommandFrame build(std::uint8_t address, BoardCommand command, std::uint8_t data1,
                            std::uint8_t data2) {
    return build(address, static_cast<std::uint8_t>(command), data1, data2);
  }

  std::uint8_t address() const { return bytes[1]; }
  std::uint8_t command() const { return bytes[2]; }
  std::uint8_t data1() const { return bytes[5]; }
  std::uint8_t data2() const { return bytes[6]; }
  std::uint8_t checksum() const { return bytes[7]; }

  friend bool operator==(const CommandFrame&, const CommandFrame&) = default;
};
