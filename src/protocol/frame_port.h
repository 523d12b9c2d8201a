#pragma once

#include <cstdint>
#include <span>

// What sending a frame needs of the serial line.
class FramePort {
 public:
  virtual ~FramePort() = default;
  virtual bool is_open() const = 0;
  // Throws away every byte waiting in the input buffer.
  virtual void discard_input() = 0;
  // Puts all bytes on the line in order, in one write.
  virtual void write(std::span<const std::uint8_t> bytes) = 0;
};
