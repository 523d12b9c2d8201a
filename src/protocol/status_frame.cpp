#include "protocol/status_frame.h"

bool StatusFrame::is_valid() const {
  return bytes[0] == header && bytes[7] == frame_checksum(bytes);
}

StatusFrame StatusFrame::build(std::uint16_t opened_mask, std::uint8_t address) {
  StatusFrame frame;
  frame.bytes = {header,
                 address,
                 0x00,
                 0x00,
                 0x00,
                 static_cast<std::uint8_t>(opened_mask >> 8),
                 static_cast<std::uint8_t>(opened_mask & 0xFF),
                 0x00};
  frame.bytes[7] = frame_checksum(frame.bytes);
  return frame;
}

int relay_state_bit(std::uint8_t value, std::int16_t n) {
  // A byte has no bit outside 0..7; shifting by such a count is undefined.
  if (n < 0 || n > 7) return 0;
  return (value >> n) & 1;
}
