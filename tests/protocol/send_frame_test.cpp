#include <gtest/gtest.h>

#include <string>

#include "fake_serial_port.h"
#include "fixed_address.h"
#include "hex.h"
#include "protocol/module1.h"

namespace {

class SendFrame : public ::testing::Test {
 protected:
  SendFrame() { port.open(); }

  std::string last_write() const { return port.writes.empty() ? "" : hex_text(port.writes.back()); }

  FakeSerialPort port;
  FixedAddress address{"1"};
  Module1 module1{port, address};
};

TEST_F(SendFrame, StampsTheAddressBoxTextReadAtSendingTime) {
  struct Case {
    std::string address_text;
    std::string wire;
  };
  const Case cases[] = {
      {"1", "55 01 10 00 00 00 00 66"},   {"0", "55 00 10 00 00 00 00 65"},
      {"255", "55 FF 10 00 00 00 00 64"}, {"300", "55 2C 10 00 00 00 00 91"},
      {"256", "55 00 10 00 00 00 00 65"}, {" 07 ", "55 07 10 00 00 00 00 6C"},
      {"2.5", "55 02 10 00 00 00 00 67"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("address \"" + c.address_text + "\"");
    address.text = c.address_text;
    module1.send_frame(0x10, 0x00, 0x00);
    EXPECT_EQ(last_write(), c.wire);
  }
  EXPECT_EQ(port.writes.size(), std::size(cases));
}

TEST_F(SendFrame, WritesNothingForAnAddressThatIsNoNonNegativeNumber) {
  for (const char* text : {"", "abc", "-1", "99999999999"}) {
    SCOPED_TRACE(std::string("address \"") + text + "\"");
    address.text = text;
    module1.send_frame(0x13, 0xFF, 0xFF);
  }
  EXPECT_TRUE(port.writes.empty());
}

TEST_F(SendFrame, DropsTheFrameOnAClosedPortButKeepsItInTheBuffer) {
  port.close();
  address.text = "1";
  module1.send_frame(0x11, 0x00, 0x05);
  EXPECT_TRUE(port.writes.empty());
  EXPECT_EQ(port.discards, 0);
  EXPECT_EQ(hex_text(module1.tx_buf().bytes), "55 01 11 00 00 00 05 6C");
}

TEST_F(SendFrame, DiscardsUnreadInputBeforeWritingAndKeepsWhatArrivesAfter) {
  port.input = {0x22, 0x00, 0xA7};  // the tail of an earlier answer
  module1.send_frame(0x10, 0x00, 0x00);
  EXPECT_TRUE(port.input.empty());
  ASSERT_EQ(port.writes.size(), 1u);

  port.input.push_back(0x22);  // the board starts answering
  EXPECT_EQ(port.input.size(), 1u);
  EXPECT_EQ(port.discards, 1);
}

}  // namespace
