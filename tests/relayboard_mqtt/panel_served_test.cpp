// The panel's core on a line that the bridge serves: port 3 mapped by lines.conf to the
// bridge of the virtual board, through a real mosquitto, with the panel's own port choice.
#include <signal.h>

#include <QTimer>
#include <algorithm>
#include <fstream>

#include "bridge_rig.h"
#include "link_qt/qt_serial_port.h"
#include "link_rig.h"
#include "qt_events.h"
#include "served_port/line_choice_port.h"

namespace {

// The port control switches the poll timer as the window's does.
struct TimedView : FakePortView {
  void set_timer_enabled(bool enabled) override {
    FakePortView::set_timer_enabled(enabled);
    if (enabled)
      timer.start(PollCycle::period);
    else
      timer.stop();
  }
  QTimer timer;
};

class ServedPanel : public BridgeRig {
 protected:
  ServedPanel() {
    start_qt();
    view.port_text = "3";
    QObject::connect(&view.timer, &QTimer::timeout, [this] { core.tick(); });
  }
  void map_port_3(int broker_port) const {
    std::ofstream(dir() + "/lines.conf")
        << "3 = mqtt://" << broker.host() << ":" << broker_port << "/relayboard/com1\n";
  }
  // The next switch frame the board receives, while the panel's event loop runs.
  std::string next_switch_frame() {
    std::vector<std::string> frames;
    wait_until([&] { return !(frames = take_switch_frames()).empty(); });
    return frames.empty() ? "" : frames.front();
  }
  bool all_shown(IndicatorState state) const {
    return std::all_of(indicators.states.begin(), indicators.states.end(),
                       [state](IndicatorState s) { return s == state; });
  }

  QtSerialPort serial{dir()};
  ServedLinePort served;
  LineChoicePort port{serial, served, dir()};
  FakeIndicators indicators;
  FixedAddress address;
  TimedView view;
  FakeNameLabels names;
  RecordingMessageBoxes messages;
  PanelCore core{{port, indicators, view, address, names, messages}, dir() + "/name.txt"};
};

TEST_F(ServedPanel, ShowsTheBoardSwitchesThroughTheBridgeAndTurnsYellowWhenItFallsSilent) {
  auto bridge = start_bridge_online();
  map_port_3(broker.port());
  core.port_control().toggle_port();
  ASSERT_TRUE(port.is_open()) << messages.shown.back().text;
  EXPECT_TRUE(wait_until([&] { return all_shown(IndicatorState::Closed); }));

  core.poll().relay_clicked(5);
  EXPECT_EQ(next_switch_frame(), "55 01 12 00 00 00 05 6D");
  EXPECT_TRUE(wait_until([&] { return indicators.states[4] == IndicatorState::Opened; }));

  core.poll().open_all();
  EXPECT_EQ(next_switch_frame(), "55 01 13 00 00 FF FF 67");
  EXPECT_TRUE(wait_until([&] { return all_shown(IndicatorState::Opened); }));

  board->signal(SIGSTOP);
  EXPECT_TRUE(wait_until([&] { return all_shown(IndicatorState::Unknown); }));
  board->signal(SIGCONT);
}

TEST_F(ServedPanel, ABrokerThatCannotBeReachedFailsTheOpenWithItsReason) {
  map_port_3(1);  // nothing listens on port 1 of the loopback
  core.port_control().toggle_port();
  EXPECT_FALSE(port.is_open());
  ASSERT_FALSE(messages.shown.empty());
  EXPECT_EQ(messages.shown.back().text,
            "Port 3 (mqtt://" + broker.host() +
                ":1/relayboard/com1) could not be opened: Connection refused");
}

}  // namespace
