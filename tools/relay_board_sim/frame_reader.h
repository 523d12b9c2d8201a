#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol/command_frame.h"

// Cuts the byte stream from the panel into command frames. Bytes before a 0x55 header
// are skipped; eight bytes from a header whose checksum is wrong cost only that header
// byte, so a real frame that starts inside them is still found.
class FrameReader {
 public:
  void feed(std::span<const std::uint8_t> bytes);
  // The next well-formed frame, or nothing until more bytes arrive.
  std::optional<CommandFrame> next();
  // Bytes thrown away so far while looking for frames.
  std::size_t skipped() const { return skipped_; }

 private:
  std::vector<std::uint8_t> pending_;
  std::size_t skipped_ = 0;
};
