#include "protocol/frame_sender.h"

#include "common/text_number.h"

void FrameSender::send(std::uint8_t command, std::uint8_t data1, std::uint8_t data2) {
  // Read at the moment of sending: a command queued before the address changed goes
  // to the new address.
  const auto address = text_to_int32(address_.address_text());
  if (!address) return;

  // Addresses from 256 up wrap: "300" is board 0x2C.
  last_frame_ =
      CommandFrame::build(static_cast<std::uint8_t>(*address % 256), command, data1, data2);
  if (!port_.is_open()) return;
  port_.discard_input();
  port_.write(last_frame_.bytes);
}
