#include <gtest/gtest.h>

#include <string>

#include "link_rig.h"
#include "protocol/status_frame.h"

namespace {

// Each frame leaves byte for byte on a clean input, stamped with the address box's text
// as it reads when the frame is built; text that is no non-negative number sends nothing.
TEST(SendFrame, WritesEachFrameForTheAddressTextOfTheMomentAfterDroppingStaleInput) {
  struct Case {
    std::string address_text;
    std::uint8_t command, data1, data2;
    std::string wire;  // empty: nothing written
  };
  const Case cases[] = {
      {"1", 0x10, 0x00, 0x00, "55 01 10 00 00 00 00 66"},  // status query
      {"0", 0x10, 0x00, 0x00, "55 00 10 00 00 00 00 65"},
      {"0", 0x13, 0xFF, 0xFF, "55 00 13 00 00 FF FF 66"},  // "Open all": the sum 0x266 wraps
      {"0", 0x13, 0x00, 0x00, "55 00 13 00 00 00 00 68"},  // "Close all"
      {"1", 0x11, 0x00, 0x05, "55 01 11 00 00 00 05 6C"},  // relay 5 clicked while opened
      {"1", 0x12, 0x00, 0x05, "55 01 12 00 00 00 05 6D"},  // ... while closed
      {"255", 0x11, 0x00, 0x10, "55 FF 11 00 00 00 10 75"},
      {"300", 0x10, 0x00, 0x00, "55 2C 10 00 00 00 00 91"},  // the address wraps
      {"256", 0x10, 0x00, 0x00, "55 00 10 00 00 00 00 65"},
      {" 07 ", 0x10, 0x00, 0x00, "55 07 10 00 00 00 00 6C"},
      {"2.5", 0x10, 0x00, 0x00, "55 02 10 00 00 00 00 67"},  // half to even
      {"", 0x13, 0xFF, 0xFF, ""},
      {"abc", 0x13, 0xFF, 0xFF, ""},
      {"-1", 0x13, 0xFF, 0xFF, ""},
      {"99999999999", 0x13, 0xFF, 0xFF, ""},
  };
  LinkRig rig;
  rig.port.open();
  for (const Case& c : cases) {
    SCOPED_TRACE("address \"" + c.address_text + "\"");
    rig.address.text = c.address_text;
    rig.port.input = {0x22, 0x00, 0xA7};  // the tail of an earlier answer
    rig.poll.send_to_addressed_board(c.command, c.data1, c.data2);
    if (c.wire.empty()) {
      EXPECT_TRUE(rig.take_writes().empty());
    } else {
      EXPECT_EQ(rig.take_writes(), std::vector<std::string>{c.wire});
      EXPECT_EQ(rig.port.waiting_at_write, 0u) << "stale input was not discarded before the write";
    }
  }
}

TEST(StatusFrame, CarriesRelays9To16ThenRelays1To8AndGetBitReadsThem) {
  // Relays 1, 3 and 16 opened, as the virtual board reports them.
  EXPECT_EQ(hex_text(StatusFrame::build(0x8005).bytes), "22 00 00 00 00 80 05 A7");
  // No bit outside the state byte, whatever the caller asks.
  EXPECT_EQ(relay_state_bit(0xFF, -1), 0);
  EXPECT_EQ(relay_state_bit(0xFF, 8), 0);

  for (int value = 0; value < 256; ++value) {
    for (std::int16_t n = 0; n < 8; ++n) {
      ASSERT_EQ(relay_state_bit(static_cast<std::uint8_t>(value), n), (value / (1 << n)) % 2)
          << "value " << value << " bit " << n;
    }
  }
}

}  // namespace
