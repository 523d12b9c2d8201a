#include "link/port_control.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link_rig.h"
#include "recording_message_boxes.h"

namespace {

// Records the window's controls as the port control leaves them.
struct FakePortView : PortControlView {
  std::string port_number_text() const override { return port_text; }
  void set_open_all_enabled(bool enabled) override { open_all = enabled; }
  void set_close_all_enabled(bool enabled) override { close_all = enabled; }
  void set_timer_enabled(bool enabled) override { timer = enabled; }
  void set_port_box_enabled(bool enabled) override { port_box = enabled; }
  void set_open_button_caption(const std::string& text) override { caption = text; }

  std::string port_text = "1";
  bool open_all = true, close_all = true, timer = true, port_box = true;
  std::string caption = "open com";

  friend bool operator==(const FakePortView& a, const FakePortView& b) {
    return a.port_text == b.port_text && a.open_all == b.open_all && a.close_all == b.close_all &&
           a.timer == b.timer && a.port_box == b.port_box && a.caption == b.caption;
  }
};

class PortControlTest : public ::testing::Test {
 protected:
  bool all_indicators(IndicatorState state) const {
    for (int relay = 1; relay <= 16; ++relay) {
      if (rig.indicators.states[relay - 1] != state ||
          rig.indicators.box_colour(relay) != indicator_colour(state)) {
        return false;
      }
    }
    return true;
  }

  LinkRig rig;
  FakePortView view;
  RecordingMessageBoxes messages;
  PortControl control{rig.port, rig.indicators, view, messages};
};

TEST_F(PortControlTest, OpenSelectsTheShownNumberSetsTheThresholdAndShowsTheOpenWindow) {
  view.port_text = "3";
  rig.indicators.paint(2, IndicatorState::Opened);
  control.open_comm_Click();

  EXPECT_TRUE(rig.port.is_open());
  EXPECT_EQ(rig.port.selected, 3);
  EXPECT_EQ(rig.port.threshold, 8);
  EXPECT_TRUE(all_indicators(IndicatorState::Unknown));
  EXPECT_TRUE(view.open_all && view.close_all && view.timer);
  EXPECT_FALSE(view.port_box);
  EXPECT_EQ(view.caption, "close com");
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(PortControlTest, CloseGreysTheIndicatorsAndStopsTheCycle) {
  control.open_comm_Click();
  rig.port.receive(hex_bytes("22 00 00 00 00 80 05 A7"));
  rig.poll.openall_Click();
  control.open_comm_Click();

  EXPECT_FALSE(rig.port.is_open());
  EXPECT_TRUE(all_indicators(IndicatorState::Idle));
  EXPECT_FALSE(view.open_all || view.close_all || view.timer);
  EXPECT_TRUE(view.port_box);
  EXPECT_EQ(view.caption, "open com");
  // A grey box is neither green nor red: a click on it queues nothing new.
  rig.poll.Picture1_Click(1);
  EXPECT_EQ(rig.poll.pending_cmd().command, 0x13);

  // Reopened: unknown again although the states were known, and the number is read anew.
  view.port_text = "2";
  control.open_comm_Click();
  EXPECT_EQ(rig.port.selected, 2);
  EXPECT_TRUE(all_indicators(IndicatorState::Unknown));
  EXPECT_EQ(rig.poll.link_count(), 5);  // neither open nor close resets the watchdog
}

TEST_F(PortControlTest, AFailedOpenSaysWhyAndLeavesTheWindowAsItWas) {
  struct Case {
    std::string port_text;
    std::string failure;
    std::string message;
  };
  const Case cases[] = {
      {"3", "Permission denied", "Port 3 (/dev/ttyS2) could not be opened: Permission denied"},
      {"0", "no such port", "Port 0 (no device) could not be opened: no such port"},
      {"", "", "Port \"\" could not be opened: not a port number"},
      {"40000", "", "Port \"40000\" could not be opened: not a port number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("port \"" + c.port_text + "\"");
    view.port_text = c.port_text;
    rig.port.open_failure = c.failure.empty() ? "unused" : c.failure;
    rig.port.device = c.port_text == "3" ? "/dev/ttyS2" : "";
    messages.shown.clear();
    rig.indicators.paints.clear();
    const FakePortView before = view;

    control.open_comm_Click();

    EXPECT_FALSE(rig.port.is_open());
    EXPECT_TRUE(view == before);
    EXPECT_TRUE(rig.indicators.paints.empty());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0], (Message{c.message, "open com", MessageIcon::Critical}));
  }
}

}  // namespace
