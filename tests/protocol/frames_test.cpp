#include <gtest/gtest.h>

#include <string>

#include "hex.h"
#include "protocol/command_frame.h"
#include "protocol/status_frame.h"

namespace {

TEST(CommandFrame, CarriesHeaderAddressCommandDataAndChecksum) {
  struct Case {
    std::uint8_t address;
    BoardCommand command;
    std::uint8_t data1, data2;
    std::string wire;
  };
  const Case cases[] = {
      {0x01, BoardCommand::QueryStatus, 0x00, 0x00, "55 01 10 00 00 00 00 66"},
      {0x00, BoardCommand::QueryStatus, 0x00, 0x00, "55 00 10 00 00 00 00 65"},
      {0x00, BoardCommand::SwitchAll, 0xFF, 0xFF, "55 00 13 00 00 FF FF 66"},
      {0x00, BoardCommand::SwitchAll, 0x00, 0x00, "55 00 13 00 00 00 00 68"},
      {0x01, BoardCommand::SwitchOpened, 0x00, 0x05, "55 01 11 00 00 00 05 6C"},
      {0x01, BoardCommand::SwitchClosed, 0x00, 0x05, "55 01 12 00 00 00 05 6D"},
      {0xFF, BoardCommand::SwitchOpened, 0x00, 0x10, "55 FF 11 00 00 00 10 75"},
      {0x2C, BoardCommand::QueryStatus, 0x00, 0x00, "55 2C 10 00 00 00 00 91"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wire);
    EXPECT_EQ(hex_text(CommandFrame::build(c.address, c.command, c.data1, c.data2).bytes), c.wire);
  }
}

TEST(StatusFrame, AcceptsOnlyTheRightHeaderAndChecksum) {
  struct Case {
    std::string wire;
    bool valid;
  };
  const Case cases[] = {
      {"22 00 00 00 00 80 05 A7", true},
      {"22 01 10 00 00 FF FF 31", true},
      {"22 00 00 00 00 00 00 22", true},
      {"22 07 33 44 55 00 01 F6", true},   // address bytes are not compared
      {"22 00 00 00 00 80 05 A6", false},  // checksum off by one
      {"23 00 00 00 00 80 05 A8", false},  // checksum right, header wrong
      {"00 22 00 00 00 00 80 05", false},  // one byte out of step
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wire);
    StatusFrame frame;
    const auto bytes = hex_bytes(c.wire);
    std::copy(bytes.begin(), bytes.end(), frame.bytes.begin());
    EXPECT_EQ(frame.is_valid(), c.valid);
  }
}

TEST(StatusFrame, MapsStateBitsToRelays) {
  StatusFrame frame;
  const auto bytes = hex_bytes("22 00 00 00 00 80 05 A7");
  std::copy(bytes.begin(), bytes.end(), frame.bytes.begin());
  for (int relay = 1; relay <= 16; ++relay) {
    SCOPED_TRACE(relay);
    EXPECT_EQ(frame.relay_opened(relay), relay == 1 || relay == 3 || relay == 16);
  }
  // The virtual board builds its answers the same way round.
  EXPECT_EQ(StatusFrame::build(0x8005), frame);
  // No relay 0 or 17, even with every state bit set.
  frame.bytes[5] = frame.bytes[6] = 0xFF;
  EXPECT_FALSE(frame.relay_opened(0));
  EXPECT_FALSE(frame.relay_opened(17));
}

TEST(GetBit, ReadsEachBitFromTheLeastSignificant) {
  for (int value = 0; value < 256; ++value) {
    for (std::int16_t n = 0; n < 8; ++n) {
      ASSERT_EQ(get_bit(static_cast<std::uint8_t>(value), n), (value / (1 << n)) % 2)
          << "value " << value << " bit " << n;
    }
  }
}

}  // namespace
