#include "line/line_engine.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "link_rig.h"
#include "protocol/status_frame.h"

namespace {

using namespace std::chrono_literals;
using Clock = LineEngine::Clock;
using Lines = std::vector<std::string>;

// A line of boards in simulated time: each request is answered 17 ms after it was
// written (one exchange at 9600 baud) by the board it names, unless that board is
// silent. The host part calls step() when the time it returned comes and right after
// each receive event, as the hosts do.
struct BusRig : LineObserver {
  explicit BusRig(std::vector<std::uint8_t> addresses, LineTiming timing = {})
      : bus(port, std::move(addresses), *this, timing) {
    port.open();
    port.set_receive_threshold(8);
    port.set_receive_handler([this] { bus.on_receive(now); });
  }
  void board_answered(std::uint8_t address, std::uint16_t opened) override {
    char text[32];
    std::snprintf(text, sizeof text, "%d ms: %d answered %04X", ms(), address, opened);
    events.emplace_back(text);
    answered_at[address].push_back(ms());
  }
  void board_lost(std::uint8_t address) override {
    events.push_back(std::to_string(ms()) + " ms: " + std::to_string(address) + " lost");
  }
  void board_missed(std::uint8_t address) override {
    misses.push_back(std::to_string(ms()) + " ms: " + std::to_string(address) + " missed");
  }
  void rule_switched(std::uint8_t address, std::uint16_t relays, const std::string& rule,
                     const std::string& why) override {
    rule_said(address, relays, rule + ": " + why);
  }
  void rule_sent_again(std::uint8_t address, std::uint16_t relays, const std::string& rule,
                       const std::string&, int sends, bool first) override {
    rule_said(address, relays, rule + " send " + std::to_string(sends) + (first ? " (told)" : ""));
  }
  void rule_held(std::uint8_t address, std::uint16_t relays, const std::string& rule,
                 int sends) override {
    rule_said(address, relays, rule + " held after " + std::to_string(sends));
  }
  void rule_said(std::uint8_t address, std::uint16_t relays, const std::string& what) {
    char text[16];
    std::snprintf(text, sizeof text, "%d/%04X ", address, relays);
    rule_switches.push_back(std::to_string(ms()) + " ms: " + text + what);
  }
  void rule_refused(std::uint8_t address, int relay, const std::string& rule,
                    const std::string& why) override {
    rule_switches.push_back(std::to_string(ms()) + " ms: refused " + std::to_string(address) + "/" +
                            std::to_string(relay) + " " + rule + ": " + why);
  }
  void board_late(std::uint8_t address, Clock::duration waited) override {
    misses.push_back(std::to_string(ms()) + " ms: " + std::to_string(address) + " late by " +
                     std::to_string(waited / 1ms));
  }

  int ms() const { return static_cast<int>((now - start) / 1ms); }
  void run_until_ms(int end_ms) {
    const auto end = start + std::chrono::milliseconds(end_ms);
    while (true) {
      const auto at = std::min(next, answer_at);
      if (at > end) break;
      now = at;
      if (at == answer_at) {
        answer_at = Clock::time_point::max();
        port.receive(answer);
      } else {
        now += wake_late;  // as a host's timer fires
      }
      next = bus.step(now);
      if (port.writes.empty()) continue;
      const auto frame = port.writes.back();
      port.writes.clear();
      frames.push_back(std::to_string(ms()) + " ms: " + hex_text(frame));
      cleared.push_back(std::exchange(discards_seen, port.discards) != port.discards);
      if (silent.count(frame[1]) == 0) board_takes(frame);
    }
    now = end;
  }
  void board_takes(const std::vector<std::uint8_t>& frame) {
    std::uint16_t& opened = relays[frame[1]];
    const std::uint16_t before = opened;
    const auto bit = static_cast<std::uint16_t>(1u << ((frame[6] - 1) & 15));
    if (frame[2] == 0x11) opened &= static_cast<std::uint16_t>(~bit);
    if (frame[2] == 0x12) opened |= bit;
    if (frame[2] == 0x13) opened = static_cast<std::uint16_t>(frame[5] << 8 | frame[6]);
    if (deaf.count(frame[1]) != 0) opened = before;  // it answers, but switches nothing
    const auto status = StatusFrame::build(opened);
    answer.assign(status.bytes.begin(), status.bytes.end());
    const auto late = late_ms.find(frames.size());
    const auto slow = slow_ms.find(frame[1]);
    answer_at = now + (late != late_ms.end()   ? std::chrono::milliseconds(late->second)
                       : slow != slow_ms.end() ? std::chrono::milliseconds(slow->second)
                                               : 17ms);
  }

  FakeSerialPort port;
  LineEngine bus;
  Clock::time_point start = Clock::time_point{} + 1h;
  Clock::time_point now = start;
  Clock::time_point next = start;
  Clock::time_point answer_at = Clock::time_point::max();
  Clock::duration wake_late{};
  std::vector<std::uint8_t> answer;
  std::set<std::uint8_t> silent;
  std::set<std::uint8_t> deaf;
  std::map<std::uint8_t, std::uint16_t> relays;
  std::map<std::size_t, int> late_ms;   // how late the answer to the n-th frame (from 1) comes
  std::map<std::uint8_t, int> slow_ms;  // how late every answer of a board comes
  // The longest time between two answers of `address` since `from_ms`.
  int longest_gap(std::uint8_t address, int from_ms) const {
    int gap = 0, last = from_ms;
    for (const int at : answered_at.at(address)) {
      if (at < from_ms) continue;
      gap = std::max(gap, at - last);
      last = at;
    }
    return std::max(gap, ms() - last);
  }
  // The frames that switch something, without their times.
  Lines switch_frames() const {
    Lines found;
    for (const std::string& line : frames) {
      const std::string frame = line.substr(line.find(": ") + 2);
      if (frame.substr(6, 2) != "10") found.push_back(frame);
    }
    return found;
  }
  void queue(std::uint8_t address, BoardCommand command, std::uint8_t data1, std::uint8_t data2,
             SwitchLane lane = SwitchLane::in_turn) {
    EXPECT_EQ(bus.queue_switch(address, command, data1, data2, lane), std::nullopt);
    next = now;  // the host steps at once
  }

  Lines frames;
  std::vector<bool> cleared;  // whether the input was cleared before each frame
  int discards_seen = 0;
  Lines events;
  Lines misses;         // requests unanswered in time, late answers
  Lines rule_switches;  // relays the rules switched off, and why
  std::map<std::uint8_t, std::vector<int>> answered_at;
};

// The line's timing where nothing is awaited past the timeout, for the cases that are
// about something else than late answers.
LineTiming no_late_wait() {
  LineTiming timing;
  timing.late_limit = timing.answer_timeout;
  return timing;
}

constexpr auto on = BoardCommand::OpenRelay;  // 0x12 opens relay n
constexpr auto off = BoardCommand::CloseRelay;
constexpr auto all = BoardCommand::SetAllRelays;
constexpr auto first = SwitchLane::first;

TEST(LineEngine, PollsTheBoardsInTurnEachAtMostOncePerPeriod) {
  BusRig rig({1, 2, 3});
  rig.relays[2] = 0x8001;
  rig.run_until_ms(110);
  // Three exchanges take 51 ms: board 1 is due again at 50 and goes out once the line
  // is free, the others follow it.
  EXPECT_EQ(rig.frames, (Lines{"0 ms: 55 01 10 00 00 00 00 66", "17 ms: 55 02 10 00 00 00 00 67",
                               "34 ms: 55 03 10 00 00 00 00 68", "51 ms: 55 01 10 00 00 00 00 66",
                               "68 ms: 55 02 10 00 00 00 00 67", "85 ms: 55 03 10 00 00 00 00 68",
                               "102 ms: 55 01 10 00 00 00 00 66"}));
  EXPECT_EQ(rig.events,
            (Lines{"17 ms: 1 answered 0000", "34 ms: 2 answered 8001", "51 ms: 3 answered 0000",
                   "68 ms: 1 answered 0000", "85 ms: 2 answered 8001", "102 ms: 3 answered 0000"}));
  EXPECT_EQ(rig.bus.states(2), 0x8001);
  EXPECT_EQ(rig.bus.states(4), std::nullopt);
}

// Each board keeps the period from when its poll was due, however late the host wakes,
// wherever the line has room; a full line (three exchanges take 51 ms) sets the pace.
TEST(LineEngine, PollsKeepTheirRhythmWhenTheHostWakesLate) {
  struct Row {
    std::vector<std::uint8_t> boards;
    Clock::duration wake_late;
    int eight_periods_ms;  // from board 1's second poll to its tenth
  } const rows[] = {
      {{1}, 0ms, 400},    {{1}, 1ms, 400},       {{1}, 3ms, 400},       {{1}, 700us, 400},
      {{1, 2}, 2ms, 400}, {{1, 2, 3}, 0ms, 408}, {{1, 2, 3}, 1ms, 408},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message()
                 << row.boards.size() << " boards, host " << row.wake_late / 1us << " us late");
    BusRig rig(row.boards);
    rig.wake_late = row.wake_late;
    rig.run_until_ms(1000);
    std::vector<int> polls;
    for (const std::string& frame : rig.frames) {
      if (frame.find(": 55 01 10") != std::string::npos) polls.push_back(std::stoi(frame));
    }
    ASSERT_GE(polls.size(), 10u);
    EXPECT_EQ(polls[9] - polls[1], row.eight_periods_ms);
  }
}

// The input is cleared before a request only where something may wait in it: not after
// an answer in time with nothing behind it, which is every request of a steady poll.
TEST(LineEngine, ARequestClearsTheInputOnlyWhereSomethingMayWait) {
  BusRig two({1, 2}, no_late_wait());
  two.silent = {2};
  two.run_until_ms(100);  // 1 at 0, 2 at 17, 1 at 57 after 2's timeout, 2 at 74
  EXPECT_EQ(two.cleared, (std::vector<bool>{true, false, true, false}));

  BusRig one({1});
  one.run_until_ms(30);
  one.port.receive({0x00});  // a stray byte after the answer
  one.run_until_ms(120);
  EXPECT_EQ(one.cleared, (std::vector<bool>{true, true, false}));

  BusRig looking({1});
  looking.port.takes_as_it_comes = false;  // it reads only while an answer is due
  looking.run_until_ms(120);
  EXPECT_EQ(looking.cleared, (std::vector<bool>{true, true, true}));
}

TEST(LineEngine, ASwitchGoesOutBeforeTheNextPollThenTheyTakeTurns) {
  BusRig rig({1, 2}, no_late_wait());
  rig.silent = {2};
  rig.run_until_ms(20);  // board 2's query is on the line, unanswered
  rig.bus.queue_switch(1, BoardCommand::OpenRelay, 0x00, 0x05);
  rig.bus.queue_switch(1, BoardCommand::OpenRelay, 0x00, 0x06);
  EXPECT_EQ(rig.bus.step(rig.now), rig.start + 57ms) << "the line stays busy until the timeout";
  rig.run_until_ms(150);
  // Board 2 is due before the second switch; board 1 needs no poll, as the answer to
  // each switch refreshes it.
  EXPECT_EQ(rig.frames,
            (Lines{"0 ms: 55 01 10 00 00 00 00 66", "17 ms: 55 02 10 00 00 00 00 67",
                   "57 ms: 55 01 12 00 00 00 05 6D", "74 ms: 55 02 10 00 00 00 00 67",
                   "114 ms: 55 01 12 00 00 00 06 6E", "131 ms: 55 02 10 00 00 00 00 67"}));
  // The switch's answer is board 1's answer; board 2's misses are its own.
  EXPECT_EQ(rig.events,
            (Lines{"17 ms: 1 answered 0000", "74 ms: 1 answered 0010", "131 ms: 1 answered 0030"}));
  EXPECT_EQ(rig.bus.queued(), 0u);
}

TEST(LineEngine, ALostBoardIsPolledLessOftenAndAtFullRateFromItsFirstAnswer) {
  BusRig rig({7}, no_late_wait());
  rig.silent = {7};
  rig.relays[7] = 0x0003;
  rig.run_until_ms(239);
  EXPECT_EQ(rig.events, Lines{}) << "four misses, the fifth still waiting";
  rig.run_until_ms(1800);
  EXPECT_EQ(rig.events, Lines{"240 ms: 7 lost"}) << "told once, however long it stays silent";
  rig.silent.clear();
  rig.run_until_ms(2780);
  EXPECT_EQ(rig.events,
            (Lines{"240 ms: 7 lost", "2717 ms: 7 answered 0003", "2767 ms: 7 answered 0003"}));
  Lines expected;
  for (const int at : {0, 50, 100, 150, 200, 300, 500, 900, 1700, 2700, 2750}) {
    expected.push_back(std::to_string(at) + " ms: 55 07 10 00 00 00 00 6C");
  }
  EXPECT_EQ(rig.frames, expected) << "once per period until lost, then ever less often";
  // Four new misses after an answer do not add up with the old ones.
  rig.silent = {7};
  rig.run_until_ms(3039);
  EXPECT_EQ(rig.events.size(), 3u);
  EXPECT_EQ(rig.bus.states(7), 0x0003);
  rig.run_until_ms(3040);
  EXPECT_EQ(rig.events.back(), "3040 ms: 7 lost");
  EXPECT_EQ(rig.bus.states(7), std::nullopt);
}

// A switch kept until the line opens would come long after its command: all 16 relays
// switched the moment an adapter is plugged in.
TEST(LineEngine, ASwitchIsTakenOnlyWhenItCanGoOnTheWireNow) {
  BusRig rig({1});
  rig.port.close();
  EXPECT_EQ(rig.bus.queue_switch(1, BoardCommand::SetAllRelays, 0xFF, 0xFF),
            SwitchRefusal::line_not_open());
  rig.port.open();
  rig.run_until_ms(30);
  rig.bus.set_device_lost(true);
  EXPECT_EQ(rig.bus.queue_switch(1, BoardCommand::OpenRelay, 0x00, 0x05),
            SwitchRefusal::device_lost());
  rig.run_until_ms(60);
  rig.bus.set_device_lost(false);
  EXPECT_EQ(rig.bus.queue_switch(1, BoardCommand::OpenRelay, 0x00, 0x06), std::nullopt);
  rig.run_until_ms(90);
  EXPECT_EQ(rig.frames, (Lines{"0 ms: 55 01 10 00 00 00 00 66", "50 ms: 55 01 10 00 00 00 00 66",
                               "67 ms: 55 01 12 00 00 00 06 6E"}));
}

TEST(LineEngine, AnAnswerAfterItsTimeoutIsAMissAndResetForgetsTheLine) {
  BusRig rig({1});
  rig.run_until_ms(1);
  rig.port.input.assign(rig.answer.begin(), rig.answer.end());
  rig.answer_at = Clock::time_point::max();
  rig.now = rig.start + 40ms;
  rig.bus.on_receive(rig.now);
  EXPECT_EQ(rig.events, Lines{});
  EXPECT_FALSE(rig.bus.busy());

  rig.bus.queue_switch(1, BoardCommand::SetAllRelays, 0xFF, 0xFF);
  rig.port.close();
  rig.bus.reset();
  EXPECT_EQ(rig.bus.step(rig.now), rig.now + LineTiming{}.poll_period)
      << "a closed line sends nothing";
  rig.port.open();
  rig.bus.step(rig.now);
  EXPECT_EQ(hex_text(rig.port.writes.back()), "55 01 10 00 00 00 00 66")
      << "the switch was forgotten and the board is due at once";
}

// What waits is bounded by the relays served, and each relay's switches keep their order;
// a toggle flips relay 5 as commanded, even while the switch is on the line.
TEST(LineEngine, SwitchesWaitingForTheSameRelaysCoalesceAndPulseEdgesGoFirst) {
  struct Switch {
    std::uint8_t address;
    BoardCommand command;
    std::uint8_t data2;
    SwitchLane lane = SwitchLane::in_turn;
  };
  const struct {
    const char* what;
    std::vector<Switch> given;
    Lines sent;
    bool relay5;  // of board 1, commanded
  } cases[] = {
      {"the latest wins", {{1, on, 5}, {1, off, 5}, {1, on, 5}}, {"55 01 12 00 00 00 05 6D"}, true},
      {"all replaces the singles before it",
       {{1, on, 5}, {1, on, 6}, {1, all, 0xFF}, {1, all, 0x00}},
       {"55 01 13 00 00 00 00 69"},
       false},
      {"a single after all stays after it",
       {{1, all, 0xFF}, {1, off, 5}},
       {"55 01 13 00 00 FF FF 67", "55 01 11 00 00 00 05 6C"},
       false},
      {"one relay of two boards",
       {{2, on, 5}, {1, on, 5}},
       {"55 02 12 00 00 00 05 6E", "55 01 12 00 00 00 05 6D"},
       true},
      {"an edge goes first",
       {{1, on, 6}, {1, on, 7}, {1, off, 5, first}},
       {"55 01 11 00 00 00 05 6C", "55 01 12 00 00 00 06 6E", "55 01 12 00 00 00 07 6F"},
       false},
      {"an edge takes its board's all along",
       {{1, all, 0x00}, {1, on, 4}, {1, on, 5, first}},
       {"55 01 13 00 00 00 00 69", "55 01 12 00 00 00 05 6D", "55 01 12 00 00 00 04 6C"},
       true},
      {"a command after an edge replaces it",
       {{1, on, 5, first}, {1, off, 5}},
       {"55 01 11 00 00 00 05 6C"},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BusRig rig({1, 2});
    rig.run_until_ms(1);  // board 1's first query is on the line
    for (const Switch& each : c.given) {
      const auto data1 = each.command == all ? each.data2 : std::uint8_t{0};
      rig.queue(each.address, each.command, data1, each.data2, each.lane);
    }
    EXPECT_EQ(rig.bus.commanded(1, 5), c.relay5);
    rig.run_until_ms(18);  // the first switch is on the line
    EXPECT_EQ(rig.bus.commanded(1, 5), c.relay5);
    rig.run_until_ms(400);
    EXPECT_EQ(rig.switch_frames(), c.sent);
  }
  EXPECT_EQ(BusRig({1}).bus.commanded(1, 5), std::nullopt) << "never reported, nothing waiting";
}

// However fast commands come, the other boards are refreshed at least once per twice
// their period without commands, and a pulse's edge waits for nothing but the request
// on the line.
TEST(LineEngine, UnderAFloodOfCommandsEveryBoardIsStillRefreshedAndEdgesGoFirst) {
  for (const int boards : {2, 16}) {
    SCOPED_TRACE(boards);
    std::vector<std::uint8_t> addresses;
    for (int address = 1; address <= boards; ++address) {
      addresses.push_back(static_cast<std::uint8_t>(address));
    }
    BusRig rig(addresses);
    rig.run_until_ms(2000);
    int period = 0;
    for (const std::uint8_t address : addresses) {
      period = std::max(period, rig.longest_gap(address, 500));
    }
    for (int at = 2001; at < 6000; ++at) {
      rig.run_until_ms(at);
      // Ten commands a millisecond to board 1's relays, ON and OFF in turn.
      for (int i = 0; i < 10; ++i) {
        rig.queue(1, (at + i) % 2 ? on : off, 0x00, static_cast<std::uint8_t>((at + i) % 16 + 1));
      }
      ASSERT_LE(rig.bus.queued(), 16u);
    }
    for (const std::uint8_t address : addresses) {
      EXPECT_LE(rig.longest_gap(address, 2500), 2 * period) << int(address);
    }
    // Each of board 1's relays keeps its turn, going out once per round of the queue.
    std::map<std::string, int> sent_of;
    for (const std::string& frame : rig.switch_frames())
      sent_of[frame.substr(0, 6) + frame.substr(18, 2)]++;
    for (int relay = 1; relay <= 16; ++relay) {
      char key[12];
      std::snprintf(key, sizeof key, "55 01 %02X", relay);
      EXPECT_GE(sent_of[key], 3500 / (16 * 2 * 17)) << key;
    }
    const std::size_t sent = rig.frames.size();
    rig.queue(2, off, 0x00, 9, first);
    rig.run_until_ms(6020);
    ASSERT_GT(rig.frames.size(), sent);
    EXPECT_EQ(rig.frames[sent].substr(rig.frames[sent].find(": ") + 2), "55 02 11 00 00 00 09 71");
  }
}

// Three silent boards beside a live one cost it one late limit now and then: each is
// awaited to its late limit (a board lost to silence may answer late again), one at a
// time, with a period for the live one between two.
TEST(LineEngine, SilentBoardsLeaveTheLiveOneItsFullRate) {
  BusRig rig({1, 2, 3, 4});
  rig.silent = {2, 3, 4};
  rig.run_until_ms(4000);
  EXPECT_LE(rig.longest_gap(1, 2000), 50 + LineTiming{}.late_limit.count());
}

// An answer counts only within its timeout; after a timeout the next request waits
// until the late answer has come or can no longer come, so that a slow board is never
// credited to the next request, even one to another board.
TEST(LineEngine, ALateAnswerHoldsTheLineUntilItComesOrCanNoLongerCome) {
  const struct {
    const char* what;
    std::vector<std::uint8_t> polled;
    std::optional<int> first_ms;  // when the first answer comes; nothing: never
    Lines frames;
    Lines misses;
    Lines events;
    int misses_until_unknown = 5;
    int slow_ms = 0;  // board 1 answers every request this late
  } cases[] = {
      {"in time",
       {1},
       29,
       {"0 ms: 55 01 10", "50 ms: 55 01 10"},
       {},
       {"29 ms: 1 answered 0000", "67 ms: 1 answered 0000"}},
      {"late, frees the line when it comes",
       {1, 2},
       60,
       {"0 ms: 55 01 10", "60 ms: 55 02 10", "77 ms: 55 01 10"},
       {"30 ms: 1 missed", "60 ms: 1 late by 60"},
       {"77 ms: 2 answered 0000", "94 ms: 1 answered 0000"}},
      {"never",
       {1, 2},
       std::nullopt,
       {"0 ms: 55 01 10", "100 ms: 55 02 10"},
       {"30 ms: 1 missed"},
       {}},
      {"never, from a board lost at its first miss: awaited all the same",
       {1, 2},
       std::nullopt,
       {"0 ms: 55 01 10", "100 ms: 55 02 10"},
       {"30 ms: 1 missed"},
       {"30 ms: 1 lost"},
       1},
      {"late at every poll, from a board lost at its second miss: slow, not silent",
       {1, 2},
       std::nullopt,
       {"0 ms: 55 01 10", "60 ms: 55 02 10", "77 ms: 55 01 10", "137 ms: 55 02 10",
        "154 ms: 55 01 10", "214 ms: 55 02 10"},
       {"30 ms: 1 missed", "60 ms: 1 late by 60", "107 ms: 1 missed", "137 ms: 1 late by 60",
        "184 ms: 1 missed", "214 ms: 1 late by 60"},
       {"77 ms: 2 answered 0000", "107 ms: 1 lost", "154 ms: 2 answered 0000",
        "231 ms: 2 answered 0000"},
       2,
       60},
      {"a request of the host's own to a board not polled",
       {},
       45,
       {"0 ms: 55 09 10", "45 ms: 55 09 10"},
       {"30 ms: 9 missed", "45 ms: 9 late by 45"},
       {"62 ms: 9 answered 0000"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BusRig rig(c.polled, LineTiming{30ms, 100ms, 1000ms, c.misses_until_unknown});
    if (c.polled.empty()) {
      rig.queue(9, BoardCommand::QueryStatus, 0, 0);
      rig.queue(9, BoardCommand::QueryStatus, 0, 0);
    }
    if (c.first_ms) rig.late_ms[1] = *c.first_ms;
    if (c.slow_ms) {
      rig.slow_ms[1] = c.slow_ms;
      rig.relays[1] = 0x0003;  // never to be shown for board 2
    } else if (!c.first_ms) {
      rig.silent = {1};
    }
    rig.run_until_ms(c.polled.empty() ? 200 : c.slow_ms ? 250 : 99 + (c.first_ms ? 0 : 1));
    rig.silent.clear();
    Lines frames;
    for (const std::string& line : rig.frames) frames.push_back(line.substr(0, line.size() - 15));
    EXPECT_EQ(frames, c.frames);
    EXPECT_EQ(rig.misses, c.misses);
    EXPECT_EQ(rig.events, c.events);
  }
}

// A board lost to silence that comes back answering late: its late answers are its
// own from the first, never the next board's.
TEST(LineEngine, ABoardLostToSilenceThatAnswersLateIsNeverTakenForTheNext) {
  BusRig rig({1, 2}, LineTiming{30ms, 100ms, 1000ms, 1});
  rig.relays[1] = 0x0003;
  rig.silent = {1};
  rig.run_until_ms(300);
  rig.silent.clear();
  rig.slow_ms[1] = 60;
  rig.run_until_ms(3000);
  for (const std::string& event : rig.events)
    EXPECT_EQ(event.find("2 answered 0003"), std::string::npos) << event;
  const auto late = [](const std::string& miss) { return miss.ends_with("1 late by 60"); };
  EXPECT_TRUE(std::any_of(rig.misses.begin(), rig.misses.end(), late));
}

}  // namespace

namespace {

// The operator's rules in the engine: an interlocked switch never reaches the wire, and
// a relay past its max_on is switched off by the engine itself, before anything waiting.
TEST(LineEngine, RulesRefuseAnInterlockAndEndAMaxOn) {
  BusRig rig({1});
  LineRules rules;
  rules.boards[1].interlocks = {0x0003};
  rules.boards[1].max_on[4] = 200ms;
  rig.bus.set_rules(rules);
  // Before the first answer the partner's state is unknown: refused as well.
  EXPECT_EQ(rig.bus.queue_switch(1, BoardCommand::OpenRelay, 0x00, 0x02)->reason,
            "relay 2 of board 1 is interlocked and the board's states are not known yet");
  rig.run_until_ms(30);
  EXPECT_EQ(rig.bus.queue_switch(1, BoardCommand::OpenRelay, 0x00, 0x01), std::nullopt);
  // Judged on what the switch waiting will leave, not on the last answer.
  const auto refusal = rig.bus.queue_switch(1, BoardCommand::OpenRelay, 0x00, 0x02);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->why, SwitchRefusal::Why::against_rules);
  EXPECT_EQ(refusal->reason, "relay 2 of board 1 is interlocked with relay 1, which is on");
  EXPECT_EQ(rig.bus.queue_switch(1, BoardCommand::SetAllRelays, 0xFF, 0xFF)->reason,
            "relays 1 and 2 of board 1 are interlocked: only one may be on at a time");
  EXPECT_EQ(rig.bus.queue_switch(1, BoardCommand::OpenRelay, 0x00, 0x05), std::nullopt);
  rig.run_until_ms(400);
  // Relay 5 is reported on at 84 ms: 200 ms later it goes off, at once.
  EXPECT_EQ(rig.frames,
            (Lines{"0 ms: 55 01 10 00 00 00 00 66", "50 ms: 55 01 12 00 00 00 01 69",
                   "67 ms: 55 01 12 00 00 00 05 6D", "117 ms: 55 01 10 00 00 00 00 66",
                   "167 ms: 55 01 10 00 00 00 00 66", "217 ms: 55 01 10 00 00 00 00 66",
                   "267 ms: 55 01 10 00 00 00 00 66", "284 ms: 55 01 11 00 00 00 05 6C",
                   "334 ms: 55 01 10 00 00 00 00 66", "384 ms: 55 01 10 00 00 00 00 66"}));
  EXPECT_EQ(rig.rule_switches,
            (Lines{"284 ms: 1/0010 max_on: on longer than its max_on of 200ms"}));
}

// A max_on switch-off is owed until a report shows the relay off: into a cut cable it
// goes again on the backoff (told once) and at once at the first answer after the mend;
// a board that hears but does not switch gets it on the backoff, not at every poll; a
// later command for the relay ends the debt, and max_on counts afresh from it. The stop
// state is owed in its place, and its relays unconfirmed until a report shows them off.
TEST(LineEngine, ARulesSwitchOffIsOwedUntilTheBoardReportsTheRelaysOff) {
  // A cut cable from 250 ms to 4000 ms, or a deaf board from 250 ms on which relay 5 is
  // switched on again at 1000 ms, or the cut cable and the line released at 1000 ms.
  enum Fault { cut, later_command, stop };
  const struct {
    Fault fault;
    Lines offs;  // relay 5's or the stop state's
    Lines said;
  } cases[] = {
      // The first waits for the line, held for the silent board's late answer.
      {cut,
       {"387 ms", "1417 ms", "3417 ms", "4864 ms"},
       {"387 ms: 1/0010 max_on: on longer than its max_on of 200ms",
        "1417 ms: 1/0010 max_on send 2 (told)", "3417 ms: 1/0010 max_on send 3",
        "4864 ms: 1/0010 max_on send 4", "4881 ms: 1/0010 max_on held after 4"}},
      {later_command,
       {"284 ms", "301 ms", "1217 ms", "1234 ms", "3234 ms"},
       {"284 ms: 1/0010 max_on: on longer than its max_on of 200ms",
        "301 ms: 1/0010 max_on send 2 (told)",
        "1217 ms: 1/0010 max_on: on longer than its max_on of 200ms",
        "1234 ms: 1/0010 max_on send 2 (told)", "3234 ms: 1/0010 max_on send 3"}},
      {stop,
       {"387 ms", "1037 ms", "2047 ms", "4067 ms"},
       {"387 ms: 1/0010 max_on: on longer than its max_on of 200ms",
        "1037 ms: 1/0010 on_stop: on_stop = off", "2047 ms: 1/0010 on_stop send 2 (told)",
        "4067 ms: 1/0010 on_stop send 3", "4084 ms: 1/0010 on_stop held after 3"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    BusRig rig({1});
    LineRules rules;
    rules.boards[1].max_on[4] = 200ms;
    rules.boards[1].on_stop = BoardRules::Stop::off;
    rig.bus.set_rules(rules);
    rig.bus.set_owner(true);
    rig.run_until_ms(50);
    rig.queue(1, BoardCommand::OpenRelay, 0x00, 0x05);
    rig.run_until_ms(250);
    if (c.fault == cut || c.fault == stop) rig.silent = {1};
    if (c.fault == later_command) rig.deaf = {1};
    rig.run_until_ms(1000);
    if (c.fault == later_command) rig.queue(1, BoardCommand::OpenRelay, 0x00, 0x05);
    if (c.fault == stop) rig.bus.release_line();
    rig.run_until_ms(4000);
    using Left = std::map<std::uint8_t, std::uint16_t>;
    const Left left = c.fault == stop ? Left{{1, 0x0010}} : Left{};
    EXPECT_EQ(rig.bus.unconfirmed("on_stop"), left);
    rig.silent.clear();
    rig.run_until_ms(5000);
    Lines offs;
    for (const std::string& frame : rig.frames) {
      if (frame.ends_with("05 6C") || frame.ends_with("13 00 00 00 00 69"))
        offs.push_back(frame.substr(0, frame.find(':')));
    }
    EXPECT_EQ(offs, c.offs);
    EXPECT_EQ(rig.rule_switches, c.said);
  }
}

}  // namespace

namespace {

// A command of several switches is judged as a whole, on what it switches on together,
// what it leaves on and each moment on the way: refused, nothing of it is queued.
TEST(LineEngine, ACommandOfSeveralSwitchesIsJudgedWhole) {
  const auto on = [](int relay) {
    return QueuedSwitch{1, BoardCommand::OpenRelay, 0x00, static_cast<std::uint8_t>(relay)};
  };
  const auto off = [](int relay) {
    return QueuedSwitch{1, BoardCommand::CloseRelay, 0x00, static_cast<std::uint8_t>(relay)};
  };
  const struct {
    std::uint16_t opened;  // relay 1 of the group 1,2 and relay 7 (max_on 2s) as reported
    SwitchCommand command;
    const char* refusal;  // nullptr: every frame queued
  } cases[] = {
      {0x0000,
       {{on(1), on(2)}},
       "relays 1 and 2 of board 1 are interlocked: only one may be on at a time"},
      {0x0000,
       {{on(3), on(2), on(1)}},
       "relays 1 and 2 of board 1 are interlocked: only one may be on at a time"},
      {0x0001, {{on(2), off(1)}}, "relay 2 of board 1 is interlocked with relay 1, which is on"},
      {0x0001, {{off(1), on(2)}}, nullptr},
      {0x0000, {{on(3), on(4)}}, nullptr},
      {0x0000,
       {{on(5), on(6)}, SwitchLane::first, 6s},
       "a pulse of 6s is longer than the max_on of 2s of relay 5 of board 1"},
      {0x0000, {{on(5), on(6)}, SwitchLane::first, 2s}, nullptr},
      {0x0000, {{off(5)}, SwitchLane::first, 6s}, nullptr},  // a pulse that holds relays off
  };
  LineRules rules;
  rules.boards[1].interlocks = {0x0003};
  rules.boards[1].max_on[4] = 2s;
  for (const auto& row : cases) {
    BusRig rig({1});
    rig.relays[1] = row.opened;
    rig.bus.set_rules(rules);
    rig.run_until_ms(30);
    const auto refusal = rig.bus.queue_switches(row.command);
    EXPECT_EQ(refusal ? refusal->reason : "queued", row.refusal ? row.refusal : "queued");
    EXPECT_EQ(rig.bus.queued(), row.refusal ? 0u : row.command.frames.size());
  }
}

// A board's on_start state is one command too: when the rules refuse part of it, none of
// its switches goes, and each relay it would switch on is told as refused.
TEST(LineEngine, AStartStateTheRulesRefuseSwitchesNothing) {
  BusRig rig({1});
  rig.relays[1] = 0x0010;  // relay 5 on
  LineRules rules;
  rules.boards[1].interlocks = {0x0018};  // 4,5
  rules.boards[1].on_start = BoardRules::Start::exactly;
  rules.boards[1].start_opened = 0x000C;  // 3,4 on: off goes first, past the interlock
  rig.bus.set_rules(rules);
  rig.bus.set_owner(true);
  rig.run_until_ms(20);
  // Meanwhile a command switches relay 5 on again: 4 can no longer go on.
  rig.queue(1, BoardCommand::OpenRelay, 0x00, 0x05);
  rig.run_until_ms(300);
  EXPECT_EQ(rig.switch_frames(), (Lines{"55 01 11 00 00 00 05 6C", "55 01 12 00 00 00 05 6D"}));
  EXPECT_EQ(rig.rule_switches, (Lines{"17 ms: 1/0010 on_start: on_start = 3,4 on",
                                      "34 ms: refused 1/3 on_start: relay 4 of board 1 is "
                                      "interlocked with relay 5, which is on",
                                      "34 ms: refused 1/4 on_start: relay 4 of board 1 is "
                                      "interlocked with relay 5, which is on"}));
}

}  // namespace

namespace {

// The line's owner puts a board in its on_start state at its first answer, switching off
// before on so that no interlock is crossed on the way, and in its on_stop state when it
// lets the line go. A host that does not own the line (a one-shot command) switches
// nothing.
TEST(LineEngine, TheOwnerGivesBoardsTheirStartAndStopStates) {
  const BoardRules::Start keep = BoardRules::Start::keep, off = BoardRules::Start::off,
                          exactly = BoardRules::Start::exactly;
  struct Case {
    bool owner;
    BoardRules::Start start;
    std::uint16_t start_opened;
    bool stop_off;
    std::uint16_t board_had;
    Lines frames;  // those that switch, at start and then at the release
    Lines rules;
  };
  const Case cases[] = {
      {true,
       off,
       0,
       true,
       0x0005,
       {"55 01 13 00 00 00 00 69", "55 01 13 00 00 00 00 69"},
       {"1/0005 on_start: on_start = off", "1/0000 on_stop: on_stop = off"}},
      {true,
       exactly,
       0x000C,
       false,
       0x0011,
       {"55 01 11 00 00 00 01 68", "55 01 11 00 00 00 05 6C", "55 01 12 00 00 00 03 6B",
        "55 01 12 00 00 00 04 6C"},
       {"1/0001 on_start: on_start = 3,4 on", "1/0010 on_start: on_start = 3,4 on",
        "1/0004 on_start: on_start = 3,4 on", "1/0008 on_start: on_start = 3,4 on"}},
      {true, keep, 0, true, 0x0003, {"55 01 13 00 00 00 00 69"}, {"1/0003 on_stop: on_stop = off"}},
      {false, off, 0, true, 0x0005, {}, {}},
  };
  for (const Case& c : cases) {
    BusRig rig({1});
    rig.relays[1] = c.board_had;
    LineRules rules;
    rules.boards[1].interlocks = {0x0018};  // 4 and 5: relay 5 goes off before 4 goes on
    rules.boards[1].on_start = c.start;
    rules.boards[1].start_opened = c.start_opened;
    rules.boards[1].on_stop = c.stop_off ? BoardRules::Stop::off : BoardRules::Stop::keep;
    rig.bus.set_rules(rules);
    rig.bus.set_owner(c.owner);
    rig.run_until_ms(400);
    EXPECT_EQ(rig.bus.release_line(), c.owner && c.stop_off);
    rig.next = rig.now;
    rig.run_until_ms(500);
    EXPECT_EQ(rig.switch_frames(), c.frames);
    Lines rules_said;
    for (const std::string& line : rig.rule_switches)
      rules_said.push_back(line.substr(line.find(": ") + 2));
    EXPECT_EQ(rules_said, c.rules);
    EXPECT_EQ(rig.relays[1], c.owner && c.stop_off           ? 0
                             : c.owner && c.start == exactly ? 0x000C
                                                             : c.board_had);
  }
  // A command taken while the start state goes out is judged against it, and the rule's
  // own switch on against the command: the interlocked partner that came first stays.
  BusRig rig({1});
  rig.relays[1] = 0x0001;
  LineRules rules;
  rules.boards[1].interlocks = {0x0006};
  rules.boards[1].on_start = exactly;
  rules.boards[1].start_opened = 0x0002;
  rig.bus.set_rules(rules);
  rig.bus.set_owner(true);
  rig.run_until_ms(18);  // the first answer came at 17 ms, relay 1 goes off
  rig.queue(1, BoardCommand::OpenRelay, 0x00, 0x03);
  rig.run_until_ms(200);
  EXPECT_EQ(rig.switch_frames(), (Lines{"55 01 11 00 00 00 01 68", "55 01 12 00 00 00 03 6B"}));
  EXPECT_EQ(rig.rule_switches.back(),
            "34 ms: refused 1/2 on_start: relay 2 of board 1 is "
            "interlocked with relay 3, which is on");

  // Once the stop state is under way nothing follows it onto the wire: neither a switch
  // queued before the release nor one asked for after it.
  BusRig stopping({1});
  LineRules stop_off;
  stop_off.boards[1].on_stop = BoardRules::Stop::off;
  stopping.bus.set_rules(stop_off);
  stopping.bus.set_owner(true);
  stopping.run_until_ms(100);
  stopping.queue(1, BoardCommand::OpenRelay, 0x00, 0x07);
  EXPECT_TRUE(stopping.bus.release_line());
  EXPECT_FALSE(stopping.bus.release_line());  // a second close sends no second stop
  EXPECT_EQ(stopping.bus.queue_switch(1, BoardCommand::OpenRelay, 0x00, 0x08),
            SwitchRefusal::line_not_open());
  stopping.run_until_ms(300);
  EXPECT_EQ(stopping.switch_frames(), (Lines{"55 01 13 00 00 00 00 69"}));
  EXPECT_EQ(stopping.relays[1], 0);
}

}  // namespace
