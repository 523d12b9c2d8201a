#include "protocol/command_frame.h"

CommandFrame CommandFrame::build(std::uint8_t address, std::uint8_t command, std::uint8_t data1,
                                 std::uint8_t data2) {
  CommandFrame frame;
  frame.bytes = {header, address, command, 0x00, 0x00, data1, data2, 0x00};
  frame.bytes[7] = frame_checksum(frame.bytes);
  return frame;
}
