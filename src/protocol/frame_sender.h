#pragma once

#include <cstdint>

#include "protocol/command_frame.h"
#include "protocol/frame_port.h"

// Builds command frames and puts them on the line. Owns the transmit buffer.
class FrameSender {
 public:
  FrameSender(FramePort& port, const AddressSource& address) : port_(port), address_(address) {}

  // Stamps the frame with the address box's current text and writes it if the
  // port is open, after discarding unread input so that the answer starts clean.
  // A closed port, or an address text that is no non-negative number, drops the
  // frame without a word.
  void send(std::uint8_t command, std::uint8_t data1, std::uint8_t data2);

  // The last frame built, whether or not it was written.
  const CommandFrame& last_frame() const { return last_frame_; }

 private:
  FramePort& port_;
  const AddressSource& address_;
  CommandFrame last_frame_{};
};
