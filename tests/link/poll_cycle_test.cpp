#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link_rig.h"

namespace {

using Frames = std::vector<std::string>;

const std::string query = "55 01 10 00 00 00 00 66";
const std::string open_all = "55 01 13 00 00 FF FF 67";
const std::string close_all = "55 01 13 00 00 00 00 69";

class PollCycleTest : public ::testing::Test {
 protected:
  PollCycleTest() {
    rig.port.open();
    rig.port.set_receive_threshold(8);
  }
  void answer(const std::string& wire) { rig.port.receive(hex_bytes(wire)); }

  LinkRig rig;
};

TEST_F(PollCycleTest, EachTickSendsOneFrameTheWaitingCommandOrAQuery) {
  rig.poll.Timer1_Timer();
  rig.poll.openall_Click();
  rig.poll.Timer1_Timer();
  rig.poll.Timer1_Timer();
  EXPECT_EQ(rig.take_writes(), (Frames{query, open_all, query}));
}

TEST_F(PollCycleTest, TheMailboxKeepsOnlyTheLastCommand) {
  rig.poll.openall_Click();
  rig.poll.closeall_Click();
  rig.poll.Timer1_Timer();
  rig.poll.Timer1_Timer();
  EXPECT_EQ(rig.take_writes(), (Frames{close_all, query}));
}

TEST_F(PollCycleTest, AClickSendsWhatTheIndicatorColourCallsFor) {
  struct Case {
    std::int16_t relay;
    bool by_label;
    std::string frame;
  };
  const Case cases[] = {
      {5, false, "55 01 11 00 00 00 05 6C"},
      {6, false, "55 01 12 00 00 00 06 6E"},
      {5, true, "55 01 11 00 00 00 05 6C"},
      {6, true, "55 01 12 00 00 00 06 6E"},
      {7, false, query},
      {8, false, query},
      {7, true, query},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("relay " + std::to_string(c.relay) + (c.by_label ? " label" : " box"));
    // Relay 5 opened, relay 6 closed, relay 7 unknown, relay 8 idle.
    rig.indicators.paint(5, IndicatorState::Opened);
    rig.indicators.paint(6, IndicatorState::Closed);
    rig.indicators.paint(7, IndicatorState::Unknown);
    rig.indicators.paint(8, IndicatorState::Idle);
    if (c.by_label) {
      rig.poll.Label2_Click(c.relay);
    } else {
      rig.poll.Picture1_Click(c.relay);
    }
    rig.poll.Timer1_Timer();
    rig.poll.Timer1_Timer();
    EXPECT_EQ(rig.take_writes(), (Frames{c.frame, query}));
  }
}

TEST_F(PollCycleTest, ACommandGoesToTheAddressShownWhenItIsSent) {
  rig.indicators.paint(16, IndicatorState::Opened);
  rig.poll.Picture1_Click(16);
  rig.address.text = "255";
  rig.poll.Timer1_Timer();
  EXPECT_EQ(rig.take_writes(), (Frames{"55 FF 11 00 00 00 10 75"}));
}

TEST_F(PollCycleTest, WatchdogPaintsUnknownOnTheSixthSilentTickAndEveryTickAfter) {
  answer("22 00 00 00 00 80 05 A7");
  ASSERT_EQ(rig.poll.link_count(), 5);
  rig.indicators.paints.clear();

  for (int tick = 1; tick <= 5; ++tick) {
    rig.poll.Timer1_Timer();
    EXPECT_TRUE(rig.indicators.paints.empty()) << "tick " << tick;
    EXPECT_EQ(rig.poll.link_count(), 5 - tick);
  }
  EXPECT_EQ(rig.indicators.box_colour(1), colour_green);

  for (int tick = 6; tick <= 8; ++tick) {
    SCOPED_TRACE(tick);
    rig.indicators.paints.clear();
    rig.poll.Timer1_Timer();
    ASSERT_EQ(rig.indicators.paints.size(), 16u);
    for (int relay = 1; relay <= 16; ++relay) {
      EXPECT_EQ(rig.indicators.paints[relay - 1], std::make_pair(relay, IndicatorState::Unknown));
    }
    EXPECT_EQ(rig.poll.link_count(), 0);
  }

  // A valid frame brings the real states back and re-arms the watchdog.
  answer("22 00 00 00 00 00 01 23");
  EXPECT_EQ(rig.indicators.box_colour(1), colour_green);
  EXPECT_EQ(rig.indicators.box_colour(2), colour_red);
  EXPECT_EQ(rig.poll.link_count(), 5);
}

TEST_F(PollCycleTest, ABoardThatAlwaysAnswersNeverTurnsUnknown) {
  answer("22 00 00 00 00 00 00 22");
  for (int tick = 0; tick < 20; ++tick) {
    rig.poll.Timer1_Timer();
    answer("22 00 00 00 00 00 00 22");
  }
  for (const auto& [relay, state] : rig.indicators.paints) {
    ASSERT_EQ(state, IndicatorState::Closed) << "relay " << relay;
  }
}

TEST(PollCycleClosedPort, CommandsAreConsumedAndDroppedWhileNoPortIsOpen) {
  LinkRig rig;
  rig.poll.openall_Click();
  rig.poll.Timer1_Timer();
  EXPECT_EQ(rig.poll.pending_flag(), 0);
  EXPECT_TRUE(rig.take_writes().empty());
  EXPECT_EQ(hex_text(rig.module1.tx_buf().bytes), open_all);
  // Every tick repaints unknown: the counter has never been armed.
  EXPECT_EQ(rig.indicators.paints.size(), 16u);

  rig.port.open();
  rig.poll.Timer1_Timer();
  EXPECT_EQ(rig.take_writes(), (Frames{query}));
}

TEST(PollCycleClosedPort, ACommandQueuedJustBeforeACloseIsTheFirstFrameAfterTheNextOpen) {
  LinkRig rig;
  rig.port.open();
  rig.poll.openall_Click();
  rig.port.close();
  rig.port.open();
  rig.poll.Timer1_Timer();
  rig.poll.Timer1_Timer();
  EXPECT_EQ(rig.take_writes(), (Frames{open_all, query}));
}

}  // namespace
