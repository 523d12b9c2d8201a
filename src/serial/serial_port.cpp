#include "serial/serial_port.h"

std::optional<FrameBytes> read_answer(SerialPort& port) {
  if (port.bytes_waiting() < frame_size) return std::nullopt;
  FrameBytes bytes{};
  for (std::uint8_t& each : bytes) {
    const auto byte = port.read_byte();
    if (!byte) return std::nullopt;
    each = *byte;
  }
  return bytes;
}
