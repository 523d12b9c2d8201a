// The panel under the rules file beside its name file: a click the rules refuse shows
// why and sends nothing, a relay past its max_on goes off at the next tick, and a rules
// file with a fault keeps the port closed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "link_rig.h"
#include "protocol/status_frame.h"

namespace {

class PanelRules : public ::testing::Test {
 protected:
  PanelRules() { std::filesystem::create_directories(dir); }
  ~PanelRules() override { std::filesystem::remove_all(dir); }
  void write_rules(const std::string& text) const { std::ofstream(dir / "rules.conf") << text; }
  // The board reports `opened` to the frame just sent.
  void answer(std::uint16_t opened) {
    const auto status = StatusFrame::build(opened);
    port.receive({status.bytes.begin(), status.bytes.end()});
  }

  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("panel_rules_" + std::to_string(std::random_device{}()));
  FakeSerialPort port;
  FakeIndicators indicators;
  FixedAddress address;
  FakePortView view;
  FakeNameLabels names;
  RecordingMessageBoxes messages;
  PanelCore core{{port, indicators, view, address, names, messages}, dir / "name.txt"};
};

// What the panel tells the event log, without the times.
struct Events : EventSink {
  void record(const Event& e) override {
    std::string line = std::string(kind_text(e.kind)) + " " + e.line + " " +
                       std::to_string(e.address) + "/" + std::to_string(e.relay) + " by " +
                       e.source;
    if (!e.who.empty()) line += " " + e.who;
    lines.push_back(line);
  }
  std::vector<std::string> lines;
};

TEST_F(PanelRules, ARefusedClickSendsNothingAndAMaxOnEndsAtTheNextTick) {
  write_rules("[address 1]\ninterlock = 1,2\nmax_on = 3: 150ms\n");
  Events events;
  port.device = "/dev/ttyUSB0";
  core.set_event_sink(events, {"panel", "ann", ""});
  core.port_control().toggle_port();
  ASSERT_TRUE(port.is_open());
  core.tick();
  answer(0x0001);  // relay 1 on
  port.writes.clear();
  core.poll().relay_clicked(2);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0],
            (Message{"Not switched: relay 2 of board 1 is interlocked with relay 1, which is on",
                     "Relay 2", MessageIcon::Warning}));
  core.poll().relay_clicked(3);
  core.tick();
  answer(0x0005);
  std::uint16_t opened = 0x0005;
  for (int tick = 0; tick < 4; ++tick) {
    core.tick();
    if (port.writes.back()[2] == 0x11) opened = 0x0001;  // the board obeys the rule's OFF
    answer(opened);
  }
  // Relay 3 was reported on at the first tick: three ticks (150 ms) later it goes off,
  // in that tick's one frame.
  EXPECT_EQ(take_written_frames(port),
            (std::vector<std::string>{"55 01 12 00 00 00 03 6B", "55 01 10 00 00 00 00 66",
                                      "55 01 10 00 00 00 00 66", "55 01 11 00 00 00 03 6A",
                                      "55 01 10 00 00 00 00 66"}));
  for (int tick = 0; tick <= PollCycle::watchdog_ticks; ++tick) core.tick();
  EXPECT_EQ(events.lines, (std::vector<std::string>{"refused /dev/ttyUSB0 1/2 by panel ann",
                                                    "switched /dev/ttyUSB0 1/3 by panel ann",
                                                    "switched /dev/ttyUSB0 1/3 by rule max_on",
                                                    "board lost /dev/ttyUSB0 1/0 by board"}));
}

// The address box may change between a click and the tick that builds its frame: the
// command is judged for the board the frame goes to, and a refused one leaves the tick
// its status query.
TEST_F(PanelRules, AClickIsJudgedForTheBoardItsFrameGoesTo) {
  write_rules("[address 2]\ninterlock = 1,2\n");
  using Act = void (PollCycle::*)();
  const Act open_all = &PollCycle::open_all;
  const std::string interlocked = "relay 2 of board 2 is interlocked with relay 1, which is on";
  const struct {
    const char* name;
    Act act;  // else a click on relay 2
    const char* at_click;
    const char* at_tick;
    std::string frame;
    std::vector<Message> shown;
  } cases[] = {
      {"relay 2, box 1 then 2",
       nullptr,
       "1",
       "2",
       "55 02 10 00 00 00 00 67",
       {{"Not switched: " + interlocked, "Relay 2", MessageIcon::Warning}}},
      {"relay 2, box stays 1", nullptr, "1", "1", "55 01 12 00 00 00 02 6A", {}},
      {"open all, box 1 then 2",
       open_all,
       "1",
       "2",
       "55 02 10 00 00 00 00 67",
       {{"Not switched: relays 1 and 2 of board 2 are interlocked: only one may be on at a time",
         "Open all", MessageIcon::Warning}}},
      {"relay 2, box 2 then 1",
       nullptr,
       "2",
       "1",
       "55 01 10 00 00 00 00 66",
       {{"Not switched: " + interlocked, "Relay 2", MessageIcon::Warning}}},
  };
  core.port_control().toggle_port();
  ASSERT_TRUE(port.is_open());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Board 2 has relay 1 on, board 1 all off and shown.
    address.text = "2";
    core.tick();
    answer(0x0001);
    address.text = "1";
    core.tick();
    answer(0x0000);
    port.writes.clear();
    messages.shown.clear();
    address.text = c.at_click;
    if (c.act) {
      (core.poll().*c.act)();
    } else {
      core.poll().relay_clicked(2);
    }
    address.text = c.at_tick;
    core.tick();
    EXPECT_EQ(take_written_frames(port), std::vector<std::string>{c.frame});
    EXPECT_EQ(messages.shown, c.shown);
  }
}

TEST_F(PanelRules, ARulesFileWithAFaultKeepsThePortClosed) {
  write_rules("[address 1]\ninterlock = 1\n");
  core.port_control().toggle_port();
  EXPECT_FALSE(port.is_open());
  EXPECT_EQ(port.open_calls, 0);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Port 1 was not opened: " + (dir / "rules.conf").string() +
                                        ":2: an interlock needs two relays or more");
  EXPECT_EQ(messages.shown[0].icon, MessageIcon::Critical);
}

// The panel that owns its line keeps each relay's on-since under max_on beside the name
// file: a relay its last run left on past the limit goes off at the first tick after the
// board shows it on, and what was owed is forgotten once the board shows it off.
TEST_F(PanelRules, WhatAMaxOnOwesOutlivesThePanel) {
  struct NoWait : EventWait {
    bool wait_until(const std::function<bool()>& done, Clock::time_point) override {
      return done();
    }
  } wait;
  using namespace std::chrono;
  const auto ms = [](system_clock::time_point at) {
    return floor<milliseconds>(at).time_since_epoch().count();
  };
  const auto text = [this] {
    std::ifstream in(dir / "owed-_dev_ttyUSB0.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string comment = "# what the line's owner owes its boards: rewritten as it changes\n";
  write_rules("[address 1]\nmax_on = 5: 1s\n");
  std::ofstream(dir / "owed-_dev_ttyUSB0.txt") << "on = 1 5 " << ms(system_clock::now() - 10s);
  port.device = "/dev/ttyUSB0";
  core.own_lines(wait);
  core.port_control().toggle_port();
  core.tick();
  answer(0x0010);
  core.tick();
  EXPECT_EQ(take_written_frames(port),
            (std::vector<std::string>{"55 01 10 00 00 00 00 66", "55 01 11 00 00 00 05 6C"}));
  answer(0x0000);
  EXPECT_EQ(text(), comment);
  const auto before = ms(system_clock::now());
  core.tick();
  answer(0x0010);  // on again: counted from now, in ticks
  ASSERT_TRUE(text().starts_with(comment + "on = 1 5 ")) << text();
  const auto since = std::stoll(text().substr(comment.size() + 9));
  EXPECT_GE(since, before - 100);
  EXPECT_LE(since, ms(system_clock::now()) + 250);
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
