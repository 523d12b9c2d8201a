#include "protocol/frame_sender.h"

void FrameSender::send(std::uint8_t address, std::uint8_t command, std::uint8_t data1,
                       std::uint8_t data2) {
  last_frame_ = CommandFrame::build(address, command, data1, data2);
  if (!port_.is_open()) return;
  port_.discard_input();
  port_.write(last_frame_.bytes);
}
