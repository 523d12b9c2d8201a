#include "link/bus_schedule.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "link_rig.h"
#include "protocol/status_frame.h"

namespace {

using namespace std::chrono_literals;
using Clock = BusSchedule::Clock;
using Lines = std::vector<std::string>;

// A line of boards in simulated time: each request is answered 17 ms after it was
// written (one exchange at 9600 baud) by the board it names, unless that board is
// silent. The host part calls step() when the time it returned comes and right after
// each receive event, as the hosts do.
struct BusRig : BusObserver {
  explicit BusRig(std::vector<std::uint8_t> addresses) : bus(port, std::move(addresses), *this) {
    port.open();
    port.set_receive_threshold(8);
    port.set_receive_handler([this](int code) { bus.on_receive(code, now); });
  }
  void board_answered(std::uint8_t address, std::uint16_t opened) override {
    char text[32];
    std::snprintf(text, sizeof text, "%d ms: %d answered %04X", ms(), address, opened);
    events.emplace_back(text);
  }
  void board_lost(std::uint8_t address) override {
    events.push_back(std::to_string(ms()) + " ms: " + std::to_string(address) + " lost");
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
      }
      next = bus.step(now);
      if (port.writes.empty()) continue;
      const auto frame = port.writes.back();
      port.writes.clear();
      frames.push_back(std::to_string(ms()) + " ms: " + hex_text(frame));
      if (silent.count(frame[1]) == 0) board_takes(frame);
    }
    now = end;
  }
  void board_takes(const std::vector<std::uint8_t>& frame) {
    std::uint16_t& opened = relays[frame[1]];
    const auto bit = static_cast<std::uint16_t>(1u << ((frame[6] - 1) & 15));
    if (frame[2] == 0x11) opened &= static_cast<std::uint16_t>(~bit);
    if (frame[2] == 0x12) opened |= bit;
    if (frame[2] == 0x13) opened = static_cast<std::uint16_t>(frame[5] << 8 | frame[6]);
    const auto status = StatusFrame::build(opened);
    answer.assign(status.bytes.begin(), status.bytes.end());
    answer_at = now + 17ms;
  }

  FakeSerialPort port;
  BusSchedule bus;
  Clock::time_point start = Clock::time_point{} + 1h;
  Clock::time_point now = start;
  Clock::time_point next = start;
  Clock::time_point answer_at = Clock::time_point::max();
  std::vector<std::uint8_t> answer;
  std::set<std::uint8_t> silent;
  std::map<std::uint8_t, std::uint16_t> relays;
  Lines frames;
  Lines events;
};

TEST(BusSchedule, PollsTheBoardsInTurnEachAtMostOncePerPeriod) {
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

TEST(BusSchedule, ASwitchGoesOutBeforeTheNextPollThenTheyTakeTurns) {
  BusRig rig({1, 2});
  rig.silent = {2};
  rig.run_until_ms(20);  // board 2's query is on the line, unanswered
  rig.bus.queue_switch(1, BoardCommand::SwitchClosed, 0x00, 0x05);
  rig.bus.queue_switch(1, BoardCommand::SwitchClosed, 0x00, 0x06);
  EXPECT_EQ(rig.bus.step(rig.now), rig.start + 57ms) << "the line stays busy until the timeout";
  rig.run_until_ms(150);
  // Board 2 is due before the second switch; board 1 needs no poll, as the answer to
  // each switch refreshes it.
  EXPECT_EQ(rig.frames, (Lines{"0 ms: 55 01 10 00 00 00 00 66", "17 ms: 55 02 10 00 00 00 00 67",
                               "57 ms: 55 01 12 00 00 00 05 6D", "74 ms: 55 02 10 00 00 00 00 67",
                               "114 ms: 55 01 12 00 00 00 06 6E",
                               "131 ms: 55 02 10 00 00 00 00 67"}));
  // The switch's answer is board 1's answer; board 2's misses are its own.
  EXPECT_EQ(rig.events, (Lines{"17 ms: 1 answered 0000", "74 ms: 1 answered 0010",
                               "131 ms: 1 answered 0030"}));
  EXPECT_EQ(rig.bus.queued(), 0u);
}

TEST(BusSchedule, ALostBoardIsPolledLessOftenAndAtFullRateFromItsFirstAnswer) {
  BusRig rig({7});
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
TEST(BusSchedule, ASwitchIsTakenOnlyWhenItCanGoOnTheWireNow) {
  BusRig rig({1});
  rig.port.close();
  EXPECT_EQ(rig.bus.queue_switch(1, BoardCommand::SwitchAll, 0xFF, 0xFF),
            SwitchRefusal::line_not_open);
  rig.port.open();
  rig.run_until_ms(30);
  rig.bus.set_device_lost(true);
  EXPECT_EQ(rig.bus.queue_switch(1, BoardCommand::SwitchClosed, 0x00, 0x05),
            SwitchRefusal::device_lost);
  rig.run_until_ms(60);
  rig.bus.set_device_lost(false);
  EXPECT_EQ(rig.bus.queue_switch(1, BoardCommand::SwitchClosed, 0x00, 0x06), std::nullopt);
  rig.run_until_ms(90);
  EXPECT_EQ(rig.frames, (Lines{"0 ms: 55 01 10 00 00 00 00 66", "50 ms: 55 01 10 00 00 00 00 66",
                               "67 ms: 55 01 12 00 00 00 06 6E"}));
}

TEST(BusSchedule, AnAnswerAfterItsTimeoutIsAMissAndResetForgetsTheLine) {
  BusRig rig({1});
  rig.run_until_ms(1);
  rig.port.input.assign(rig.answer.begin(), rig.answer.end());
  rig.answer_at = Clock::time_point::max();
  rig.now = rig.start + 40ms;
  rig.bus.on_receive(comm_event_receive, rig.now);
  EXPECT_EQ(rig.events, Lines{});
  EXPECT_FALSE(rig.bus.busy());

  rig.bus.queue_switch(1, BoardCommand::SwitchAll, 0xFF, 0xFF);
  rig.port.close();
  rig.bus.reset();
  EXPECT_EQ(rig.bus.step(rig.now), rig.now + PollCycle::period) << "a closed line sends nothing";
  rig.port.open();
  rig.bus.step(rig.now);
  EXPECT_EQ(hex_text(rig.port.writes.back()), "55 01 10 00 00 00 00 66")
      << "the switch was forgotten and the board is due at once";
}

}  // namespace
