#include <gtest/gtest.h>

#include <string>

#include "serial/win_serial_port.h"

namespace {

// Opens that fail before any line exists; the port stays closed and quiet.
TEST(WinSerialPort, AFailedOpenSaysWhyAndLeavesThePortClosed) {
  const struct {
    std::int16_t number;
    std::string device;
    std::string reason_start;
  } cases[] = {
      {0, "", "no port has this number"},
      {250, "", "No such device. "},
      {1, "NUL", "Not a serial port ("},
  };
  for (const auto& c : cases) {
    WinSerialPort port;
    port.select_port(c.number);
    if (!c.device.empty()) port.select_device(c.device);
    const OpenResult result = port.open();
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.reason.starts_with(c.reason_start)) << result.reason;
    EXPECT_FALSE(port.is_open());
    EXPECT_EQ(port.bytes_waiting(), 0u);
    EXPECT_FALSE(port.read_byte());
  }
}

}  // namespace
