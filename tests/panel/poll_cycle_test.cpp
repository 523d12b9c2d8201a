#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "link_rig.h"

namespace {

using Frames = std::vector<std::string>;

const std::string query = "55 01 10 00 00 00 00 66";
const std::string open_all = "55 01 13 00 00 FF FF 67";
const std::string close_all = "55 01 13 00 00 00 00 69";

// Each tick sends exactly one frame: the command waiting in the one-slot mailbox, or
// else a status query. A click sends what the colour of the indicator calls for.
TEST(PollCycle, EachTickSendsTheWaitingCommandOrElseAStatusQuery) {
  using Act = std::function<void(LinkRig&)>;
  const Act press_open_all = [](LinkRig& rig) { rig.poll.open_all(); };
  const Act press_close_all = [](LinkRig& rig) { rig.poll.close_all(); };
  const Act reopen_port = [](LinkRig& rig) {
    rig.port.close();
    rig.port.open();
  };
  const Act address_255 = [](LinkRig& rig) { rig.address.text = "255"; };
  const auto box = [](std::int16_t n) -> Act {
    return [n](LinkRig& r) { r.poll.relay_clicked(n); };
  };
  const auto caption = [](std::int16_t n) -> Act {
    return [n](LinkRig& r) { r.poll.state_caption_clicked(n); };
  };
  struct Case {
    const char* name;
    std::vector<Act> acts;
    Frames frames;  // of the next two ticks
  };
  const Case cases[] = {
      {"nothing", {}, {query, query}},
      {"open all", {press_open_all}, {open_all, query}},
      {"open all, then close all", {press_open_all, press_close_all}, {close_all, query}},
      {"green box 5", {box(5)}, {"55 01 11 00 00 00 05 6C", query}},
      {"red relay 6's label", {caption(6)}, {"55 01 12 00 00 00 06 6E", query}},
      {"yellow box 7", {box(7)}, {query, query}},
      {"grey relay 8's label", {caption(8)}, {query, query}},
      {"open all, then the port closed and opened",
       {press_open_all, reopen_port},
       {open_all, query}},
      {"green box 16, then address 255",
       {box(16), address_255},
       {"55 FF 11 00 00 00 10 75", "55 FF 10 00 00 00 00 64"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LinkRig rig;
    rig.port.open();
    rig.indicators.paint(5, IndicatorState::Opened);
    rig.indicators.paint(6, IndicatorState::Closed);
    rig.indicators.paint(8, IndicatorState::Idle);
    rig.indicators.paint(16, IndicatorState::Opened);
    for (const Act& act : c.acts) act(rig);
    rig.poll.tick();
    rig.poll.tick();
    EXPECT_EQ(rig.take_writes(), c.frames);
  }
}

TEST(PollCycle, WatchdogPaintsASilentBoardUnknownOnTheSixthTickAndEveryTickAfter) {
  LinkRig rig;
  rig.port.open();
  rig.port.set_receive_threshold(8);
  const auto answer = [&](const char* wire) { rig.port.receive(hex_bytes(wire)); };

  // A board that answers every request never turns unknown.
  answer("22 00 00 00 00 80 05 A7");
  for (int tick = 0; tick < 10; ++tick) {
    rig.poll.tick();
    answer("22 00 00 00 00 80 05 A7");
  }
  for (const auto& [relay, state] : rig.indicators.paints) {
    ASSERT_NE(state, IndicatorState::Unknown) << "relay " << relay;
  }

  std::vector<std::pair<int, IndicatorState>> all_unknown;
  for (int relay = 1; relay <= 16; ++relay)
    all_unknown.emplace_back(relay, IndicatorState::Unknown);
  for (int tick = 1; tick <= 8; ++tick) {
    SCOPED_TRACE(tick);
    rig.indicators.paints.clear();
    rig.poll.tick();
    if (tick <= 5) {
      EXPECT_TRUE(rig.indicators.paints.empty());
      EXPECT_EQ(rig.poll.watchdog_ticks_left(), 5 - tick);
    } else {
      EXPECT_EQ(rig.indicators.paints, all_unknown);
      EXPECT_EQ(rig.poll.watchdog_ticks_left(), 0);
    }
  }

  // A valid frame brings the real states back and re-arms the watchdog.
  answer("22 00 00 00 00 00 01 23");
  EXPECT_EQ(rig.indicators.box_colour(1), colour_green);
  EXPECT_EQ(rig.indicators.box_colour(2), colour_red);
  EXPECT_EQ(rig.poll.watchdog_ticks_left(), 5);
}

TEST(PollCycle, WithNoPortOpenEachTickRepaintsUnknownAndDropsTheWaitingCommand) {
  LinkRig rig;
  rig.poll.open_all();
  rig.poll.tick();
  EXPECT_EQ(rig.poll.has_pending_command(), 0);
  EXPECT_TRUE(rig.take_writes().empty());
  EXPECT_EQ(hex_text(rig.line.last_frame().bytes), open_all);  // built all the same
  EXPECT_EQ(rig.indicators.paints.size(), 16u);

  rig.port.open();
  rig.poll.tick();
  EXPECT_EQ(rig.take_writes(), (Frames{query}));
}

}  // namespace
