#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "link_rig.h"

namespace {

class Receive : public ::testing::Test {
 protected:
  Receive() {
    rig.port.open();
    rig.port.set_receive_threshold(8);
    rig.indicators.paints.clear();
  }
  // The opened relays after painting, as a bit mask (bit r-1: relay r).
  unsigned opened_mask() const {
    unsigned mask = 0;
    for (int relay = 1; relay <= 16; ++relay) {
      if (rig.indicators.box_colour(relay) == colour_green) mask |= 1u << (relay - 1);
    }
    return mask;
  }

  LinkRig rig;
};

TEST_F(Receive, AValidFramePaintsAllSixteenAndReArmsTheWatchdog) {
  struct Case {
    std::string wire;
    unsigned opened;
  };
  const Case cases[] = {
      {"22 00 00 00 00 80 05 A7", 0x8005},  // relays 1, 3, 16
      {"22 01 10 00 00 FF FF 31", 0xFFFF}, {"22 00 00 00 00 00 00 22", 0x0000},
      {"22 07 33 44 55 00 01 F6", 0x0001},  // address bytes ignored
      {"22 07 33 44 55 00 01 F6", 0x0001},  // unchanged states still repaint
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wire);
    rig.poll.Timer1_Timer();  // counts the watchdog down
    rig.indicators.paints.clear();
    rig.port.receive(hex_bytes(c.wire));
    EXPECT_EQ(opened_mask(), c.opened);
    EXPECT_EQ(rig.indicators.paints.size(), 16u);
    EXPECT_EQ(rig.poll.link_count(), 5);
  }
}

TEST_F(Receive, PaintsInTheOrderNineOneTenTwo) {
  rig.port.receive(hex_bytes("22 00 00 00 00 80 05 A7"));
  std::vector<int> order;
  for (const auto& paint : rig.indicators.paints) order.push_back(paint.first);
  EXPECT_EQ(order, (std::vector<int>{9, 1, 10, 2, 11, 3, 12, 4, 13, 5, 14, 6, 15, 7, 16, 8}));
  // Box then caption come from one state: relay 16 shows opened, relay 9 closed.
  EXPECT_EQ(rig.indicators.states[15], IndicatorState::Opened);
  EXPECT_EQ(rig.indicators.states[8], IndicatorState::Closed);
}

TEST_F(Receive, AFrameThatFailsTheCheckChangesNothing) {
  rig.port.receive(hex_bytes("22 00 00 00 00 00 00 22"));
  rig.poll.Timer1_Timer();
  rig.poll.Timer1_Timer();
  ASSERT_EQ(rig.poll.link_count(), 3);
  rig.indicators.paints.clear();

  for (const char* wire : {"22 00 00 00 00 80 05 A6", "23 00 00 00 00 80 05 A8"}) {
    SCOPED_TRACE(wire);
    rig.port.receive(hex_bytes(wire));
    EXPECT_TRUE(rig.indicators.paints.empty());
    EXPECT_EQ(rig.poll.link_count(), 3);
  }
  // The bytes read are kept even when they fail.
  EXPECT_EQ(rig.poll.rx_buf()[0], 0x23);
  EXPECT_EQ(rig.poll.rx_buf()[7], 0xA8);
}

TEST_F(Receive, AStrayByteCostsOneFrameAndTheNextRequestDiscardsTheRest) {
  rig.port.receive(hex_bytes("00 22 00 00 00 00 80 05 A7"));
  EXPECT_TRUE(rig.indicators.paints.empty());
  EXPECT_EQ(hex_text(rig.port.input), "A7");

  rig.poll.Timer1_Timer();
  EXPECT_TRUE(rig.port.input.empty());
  rig.port.receive(hex_bytes("22 00 00 00 00 80 05 A7"));
  EXPECT_EQ(opened_mask(), 0x8005u);
}

TEST_F(Receive, OtherEventsAndShortReadsAreIgnored) {
  rig.port.input = {0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x22};
  rig.poll.MSComm1_OnComm(1);  // a transmit event reads nothing
  EXPECT_EQ(rig.port.input.size(), 8u);

  // Fewer than eight waiting: nothing is read, the bytes stay for the next event.
  rig.port.input = {0x22, 0x00, 0x00};
  rig.poll.MSComm1_OnComm(comm_event_receive);
  EXPECT_EQ(hex_text(rig.port.input), "22 00 00");
  EXPECT_EQ(rig.poll.rx_buf(), (std::array<std::int32_t, 8>{}));
  EXPECT_TRUE(rig.indicators.paints.empty());
  EXPECT_EQ(rig.poll.link_count(), 0);
}

}  // namespace
