// The panel's core on a line that the bridge serves: port 3 mapped by lines.conf to the
// bridge of the virtual board, through a real mosquitto, with the panel's own port choice.
#include <signal.h>

#include <QTimer>
#include <algorithm>
#include <fstream>

#include "bridge_rig.h"
#include "file_bytes.h"
#include "loop/qt_event_wait.h"
#include "loop/qt_descriptor_loop.h"
#include "serial/posix_serial_port.h"
#include "link_rig.h"
#include "qt_events.h"
#include "panel/line_choice_port.h"
#include "mqtt/served_line_port.h"

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
    core.names().set_line_names(&port);
    core.use_board_line(&port);
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

  PosixSerialPort serial{dir(), QtDescriptorLoop::program()};
  ServedLinePort served;
  LineChoicePort port{serial, served, dir()};
  FakeIndicators indicators;
  FixedAddress address;
  TimedView view;
  FakeNameLabels names;
  RecordingMessageBoxes messages;
  // The panel's own name file, apart from the bridge's name.txt.
  const std::string panel_names = dir() + "/panel_names.txt";
  PanelCore core{{port, indicators, view, address, names, messages}, panel_names};
};

TEST_F(ServedPanel, ShowsTheBoardSwitchesThroughTheBridgeAndTurnsYellowWhenItFallsSilent) {
  auto bridge = start_bridge_online();
  map_port_3(broker.port());
  // The served line is its bridge's: the panel's own rules put no state on its boards.
  ASSERT_TRUE(watcher->publish(topic("1/2/set"), "ON"));
  EXPECT_EQ(wait_switch_frames(1), std::vector<std::string>{"55 01 12 00 00 00 02 6A"});
  std::ofstream(dir() + "/rules.conf") << "[address 1]\non_start = off\nmax_on = 5: 100ms\n";
  QtEventWait release_wait;
  core.own_lines(release_wait, [this] { return !port.owns_names(); });
  core.port_control().toggle_port();
  ASSERT_TRUE(port.is_open()) << messages.shown.back().text;
  EXPECT_TRUE(wait_until([&] {
    return indicators.states[0] == IndicatorState::Closed &&
           indicators.states[1] == IndicatorState::Opened;
  }));

  core.poll().relay_clicked(5);
  EXPECT_EQ(next_switch_frame(), "55 01 12 00 00 00 05 6D");
  EXPECT_TRUE(wait_until([&] { return indicators.states[4] == IndicatorState::Opened; }));
  // Nor does it end relay 5 by its own max_on: ten polls later it is still on.
  const std::string poll = "<- 55 01 10 00 00 00 00 66";
  const int polls = board->log_count(poll) + 10;
  ASSERT_TRUE(wait_until([&] { return board->log_count(poll) >= polls; }));
  EXPECT_EQ(take_switch_frames(), std::vector<std::string>{});

  core.poll().open_all();
  EXPECT_EQ(next_switch_frame(), "55 01 13 00 00 FF FF 67");
  EXPECT_TRUE(wait_until([&] { return all_shown(IndicatorState::Opened); }));

  board->signal(SIGSTOP);
  EXPECT_TRUE(wait_until([&] { return all_shown(IndicatorState::Unknown); }));
  board->signal(SIGCONT);
}

// A click that the bridge's rules refuse is told as a refusal of the panel's own is.
TEST_F(ServedPanel, AClickTheBridgeRefusesIsShownWithTheBridgesReason) {
  std::ofstream(dir() + "/rules.conf") << "[address 1]\ninterlock = 1,2\n";
  auto bridge = start_bridge_online();
  // Read by the bridge at its start; the panel has no rules of its own.
  std::filesystem::remove(dir() + "/rules.conf");
  map_port_3(broker.port());
  ASSERT_TRUE(watcher->publish(topic("1/1/set"), "ON"));
  EXPECT_EQ(wait_switch_frames(1), std::vector<std::string>{"55 01 12 00 00 00 01 69"});
  core.port_control().toggle_port();
  ASSERT_TRUE(port.is_open()) << messages.shown.back().text;
  ASSERT_TRUE(wait_until([&] { return indicators.states[0] == IndicatorState::Opened; }));

  core.poll().relay_clicked(2);
  ASSERT_TRUE(wait_until([&] { return !messages.shown.empty(); }));
  EXPECT_EQ(messages.shown, (std::vector<Message>{{"Not switched: relay 2 of board 1 is "
                                                   "interlocked with relay 1, which is on",
                                                   "Relay 2", MessageIcon::Warning}}));
  EXPECT_EQ(take_switch_frames(), std::vector<std::string>{});
}

TEST_F(ServedPanel, ShowsTheBridgesNamesAndRenamesThroughItWhileItsOwnFileRests) {
  // The bridge's file in code page 936 as Windows writes it ("水泵" is CB AE B1 C3).
  const std::string bridge_file =
      "[address 0]\r\n[Software properties]\r\nThe name=Site\r\n[address 1]\r\n"
      "relay1name=\xCB\xAE\xB1\xC3\r\nrelay2name=Fan\r\n";
  write_names(bridge_file);
  const std::string panel_file =
      "[address 0]\r\n[Software properties]\r\nThe name=Desk\r\n[address 1]\r\n"
      "relay1name=Local\r\n";
  std::ofstream(panel_names, std::ios::binary) << panel_file;
  auto bridge = start_bridge_online();
  map_port_3(broker.port());
  core.names().load("1");
  EXPECT_EQ(names.labels[0], "Local");

  core.port_control().toggle_port();
  ASSERT_TRUE(port.is_open()) << messages.shown.back().text;
  EXPECT_TRUE(wait_until([&] { return names.labels[0] == "水泵"; }));
  EXPECT_EQ(names.title, "Site");
  EXPECT_EQ(names.labels[1], "Fan");

  core.rename().address_text = "1";
  core.rename().relay_text = "2";
  EXPECT_EQ(core.names().stored_name().name, "Fan");
  std::optional<RenameOutcome> outcome;
  const auto store = [&](const std::string& text) {
    outcome.reset();
    core.names().store(text, [&](RenameOutcome answer) { outcome = std::move(answer); });
    return wait_until([&] { return outcome.has_value(); });
  };
  ASSERT_TRUE(store("泵 2"));
  EXPECT_TRUE(outcome->stored) << (outcome->error ? outcome->error->text : "");
  std::string renamed = bridge_file;
  renamed.replace(renamed.find("Fan"), 3, "\xB1\xC3 2");
  EXPECT_EQ(read_bytes(dir() + "/name.txt"), renamed);
  EXPECT_TRUE(wait_until([&] { return names.labels[1] == "泵 2"; }));

  // Refused by the bridge, told as the panel's own refusal is.
  ASSERT_TRUE(store("Pump\nroom"));
  EXPECT_FALSE(outcome->stored);
  const RenameOutcome local = core.rename().store("Pump\nroom");
  ASSERT_TRUE(outcome->error && local.error);
  EXPECT_EQ(outcome->error->text, local.error->text);
  EXPECT_EQ(outcome->error->caption, "Rename");
  EXPECT_EQ(read_bytes(dir() + "/name.txt"), renamed);
  EXPECT_EQ(read_bytes(panel_names), panel_file);

  // Closed, the panel's own names come back.
  core.port_control().toggle_port();
  EXPECT_EQ(names.labels[0], "Local");
  EXPECT_EQ(names.title, "Desk");
}

// With the poll timer stopped nothing of the panel's waits for a tick: another client's
// switch and the panel's click are painted on the state's arrival, the click goes to the
// bridge at once, and the board's silence shows on the bridge's word.
TEST_F(ServedPanel, PaintsEachStateOnItsArrivalAndSendsAClickWithoutATick) {
  auto bridge = start_bridge_online();
  map_port_3(broker.port());
  core.port_control().toggle_port();
  ASSERT_TRUE(port.is_open()) << messages.shown.back().text;
  view.timer.stop();
  ASSERT_TRUE(wait_until([&] { return all_shown(IndicatorState::Closed); }));
  ASSERT_TRUE(watcher->publish(topic("1/2/set"), "ON"));
  EXPECT_TRUE(wait_until([&] { return indicators.states[1] == IndicatorState::Opened; }));
  take_switch_frames();

  core.poll().relay_clicked(5);
  EXPECT_EQ(next_switch_frame(), "55 01 12 00 00 00 05 6D");
  EXPECT_TRUE(wait_until([&] { return indicators.states[4] == IndicatorState::Opened; }));

  board->signal(SIGSTOP);
  EXPECT_TRUE(wait_until([&] { return all_shown(IndicatorState::Unknown); }));
  board->signal(SIGCONT);
  EXPECT_TRUE(wait_until([&] { return indicators.states[4] == IndicatorState::Opened; }));
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

// A mapping that cannot be used keeps only its own port closed, named by its line.
TEST_F(ServedPanel, AnUnusableMappingKeepsOnlyItsOwnPortClosedAndNamesItsLine) {
  auto bridge = start_bridge_online();
  std::ofstream(dir() + "/lines.conf") << "3 = mqtt://" << broker.host() << ":" << broker.port()
                                       << "/relayboard/com1\n4 = mqtts://h/p/l\n";
  view.port_text = "4";
  core.port_control().toggle_port();
  EXPECT_FALSE(port.is_open());
  ASSERT_FALSE(messages.shown.empty());
  EXPECT_EQ(messages.shown.back().text,
            "Port 4 (mqtts://h/p/l) could not be opened: " + dir() +
                "/lines.conf:2: mqtts:// needs 4.cafile, the authority the broker's certificate "
                "is from");
  view.port_text = "3";
  core.port_control().toggle_port();
  EXPECT_TRUE(port.is_open()) << messages.shown.back().text;
}

}  // namespace
