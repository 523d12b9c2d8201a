#pragma once

#include <cstdint>

#include "protocol/command_frame.h"
#include "protocol/frame_port.h"

// Builds command frames and puts them on the line. Owns the transmit buffer.
class FrameSender {
 public:
  explicit FrameSender(FramePort& port) : port_(port) {}

  // Builds the frame for the board at `address` and writes it if the port is open,
  // after discarding unread input so that the answer starts clean. A closed port drops
  // the frame without a word.
  void send(std::uint8_t address, std::uint8_t command, std::uint8_t data1, std::uint8_t data2);

  // The last frame built, whether or not it was written.
  const CommandFrame& last_frame() const { return last_frame_; }

 private:
  FramePort& port_;
  CommandFrame last_frame_{};
};
