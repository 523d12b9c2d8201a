#include "line/local_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link_rig.h"
#include "protocol/status_frame.h"

namespace {

using namespace std::chrono_literals;
using Clock = LocalLine::Clock;
using Lines = std::vector<std::string>;

// Board 1 on a line in simulated time, answering each request 17 ms after it was written
// unless it is silent; it ignores the first `resist` closes of its relays. The host part
// steps the line when the time it returned comes, after each command and each answer.
struct LineRig : BoardEvents {
  LineRig() : line(port, {1}) {
    port.open();
    port.set_receive_threshold(8);
    port.set_receive_handler([this] { line.on_receive(now); });
    line.set_events(this);
  }
  void board_answered(std::uint8_t, std::uint16_t) override {}
  void board_lost(std::uint8_t address) override {
    said("board " + std::to_string(address) + " lost");
  }
  void line_lost() override { said("line lost"); }
  void pulse_end_sent(const PulseRunner::End& end) override { said("end sent", end); }
  void pulse_told(const PulseRunner::Told& news) override {
    static const char* const words[] = {"ended",          "ended late", "sent again",
                                        "still switched", "back",       "not ended: "};
    // A retry told to the log, a hold that took more than one send.
    const std::string told = news.first ? " (told)"
                             : news.news == PulseRunner::Told::News::back && news.sends > 1
                                 ? " after " + std::to_string(news.sends)
                                 : "";
    said(words[static_cast<int>(news.news)] + news.why, news.end, told);
  }
  void said(const std::string& what, const PulseRunner::End& end, const std::string& more = {}) {
    said(what + " " + std::to_string(end.address) + "/" +
         std::to_string(std::countr_zero(end.relays) + 1) + more);
  }
  void said(const std::string& what) { told.push_back(ms() + what); }
  std::string ms() const { return std::to_string((now - start) / 1ms) + " ms: "; }

  std::optional<SwitchRefusal> pulse(int relay, Clock::duration length) {
    next = now;
    return line.command({{{1, BoardCommand::OpenRelay, 0, static_cast<std::uint8_t>(relay)}},
                         SwitchLane::first,
                         std::chrono::duration_cast<std::chrono::milliseconds>(length)},
                        now);
  }
  void switch_on(int relay) {
    next = now;
    line.command({{{1, BoardCommand::OpenRelay, 0, static_cast<std::uint8_t>(relay)}}}, now);
  }
  void run_for(Clock::duration length) {
    const auto end = now + length;
    while (std::min(next, answer_at) <= end) {
      now = std::min(next, answer_at);
      if (now == answer_at) {
        answer_at = Clock::time_point::max();
        port.receive(answer);
      }
      next = line.step(now);
      for (const auto& frame : std::exchange(port.writes, {})) {
        if (frame[2] != 0x10) said(hex_text(frame));
        if (!silent) board_takes(frame);
      }
    }
    now = end;
  }
  void board_takes(const std::vector<std::uint8_t>& frame) {
    const auto bit = static_cast<std::uint16_t>(1u << ((frame[6] - 1) & 15));
    if (frame[2] == 0x11 && resist > 0) {
      --resist;
    } else if (frame[2] == 0x11) {
      opened &= static_cast<std::uint16_t>(~bit);
    }
    if (frame[2] == 0x12) opened |= bit;
    const auto status = StatusFrame::build(opened);
    answer.assign(status.bytes.begin(), status.bytes.end());
    answer_at = now + 17ms;
  }

  FakeSerialPort port;
  LocalLine line;
  Clock::time_point start = Clock::time_point{} + 1h;
  Clock::time_point now = start;
  Clock::time_point next = start;
  Clock::time_point answer_at = Clock::time_point::max();
  std::vector<std::uint8_t> answer;
  bool silent = false;
  std::uint16_t opened = 0;
  int resist = 0;
  Lines told;
};

TEST(LocalLine, APulseEndsOnTimeUnlessALaterCommandTakesItsRelay) {
  LineRig rig;
  rig.run_for(100ms);
  rig.pulse(2, 500ms);
  rig.run_for(100ms);
  rig.pulse(3, 2s);
  rig.run_for(500ms);
  rig.switch_on(3);  // relay 3 stays opened
  rig.run_for(3s);
  // The first switch waits for the answer to the poll on the line; the hold counts from
  // when it went out, as the relay sees it.
  EXPECT_EQ(rig.told,
            (Lines{"117 ms: 55 01 12 00 00 00 02 6A", "200 ms: 55 01 12 00 00 00 03 6B",
                   "617 ms: end sent 1/2", "617 ms: ended 1/2", "617 ms: 55 01 11 00 00 00 02 69",
                   "634 ms: back 1/2", "700 ms: 55 01 12 00 00 00 03 6B"}));
  EXPECT_FALSE(rig.line.pulsing());
}

// An end due while its board is silent goes all the same (the board may still hear),
// again on a backoff (told once), and at once at the board's first answer; at a stop
// every end goes, to a silent board too, and stays owed until the board shows it back.
TEST(LocalLine, AnEndToASilentBoardGoesOnABackoffAndAtItsFirstAnswer) {
  LineRig rig;
  rig.run_for(100ms);
  rig.pulse(4, 1s);
  rig.run_for(50ms);
  rig.silent = true;
  rig.run_for(5s);
  rig.silent = false;
  rig.run_for(2s);
  EXPECT_EQ(
      rig.told,
      (Lines{"117 ms: 55 01 12 00 00 00 04 6C", "687 ms: board 1 lost", "1117 ms: end sent 1/4",
             "1117 ms: ended 1/4", "1117 ms: 55 01 11 00 00 00 04 6B", "2117 ms: end sent 1/4",
             "2117 ms: sent again 1/4 (told)", "2117 ms: 55 01 11 00 00 00 04 6B",
             "4117 ms: end sent 1/4", "4117 ms: sent again 1/4", "4117 ms: 55 01 11 00 00 00 04 6B",
             "5764 ms: end sent 1/4", "5764 ms: sent again 1/4", "5764 ms: 55 01 11 00 00 00 04 6B",
             "5781 ms: back 1/4 after 4"}));
  rig.told.clear();
  rig.pulse(5, 10s);
  rig.run_for(50ms);
  rig.silent = true;
  rig.run_for(5s);
  rig.told.clear();
  rig.line.end_pulses(rig.now);
  rig.next = rig.now;
  rig.run_for(1s);
  EXPECT_EQ(rig.told, (Lines{"12200 ms: end sent 1/5", "12200 ms: 55 01 11 00 00 00 05 6C",
                             "13200 ms: end sent 1/5", "13200 ms: sent again 1/5 (told)",
                             "13200 ms: 55 01 11 00 00 00 05 6C"}));
  EXPECT_TRUE(rig.line.pulsing());
  rig.silent = false;
  rig.run_for(2s);
  EXPECT_FALSE(rig.line.pulsing());
}

// The board's answers after the end tell whether the relay went back; one that did not
// gets its end again at once, then on the backoff, until the board reports it back.
TEST(LocalLine, APulsesEndIsSentUntilTheBoardReportsItBack) {
  const struct {
    int resist;
    Lines told;
  } cases[] = {
      {0, {"217 ms: ended 1/2", "234 ms: back 1/2"}},
      {1, {"217 ms: ended 1/2", "234 ms: sent again 1/2 (told)", "251 ms: back 1/2 after 2"}},
      {2,
       {"217 ms: ended 1/2", "234 ms: sent again 1/2 (told)", "2234 ms: sent again 1/2",
        "2251 ms: back 1/2 after 3"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.resist);
    LineRig rig;
    rig.run_for(100ms);
    rig.pulse(2, 100ms);
    rig.run_for(50ms);
    rig.told.clear();
    rig.resist = c.resist;
    rig.run_for(4s);
    Lines told;
    for (const std::string& line : rig.told) {
      if (line.find(" 1/") != std::string::npos && line.find("end sent") == std::string::npos)
        told.push_back(line);
    }
    EXPECT_EQ(told, c.told);
    EXPECT_FALSE(rig.line.pulsing());
  }
}

// A lost device refuses every command and forgets who answered: the end waits for the
// board's first answer after it is back.
TEST(LocalLine, ALostDeviceRefusesAPulseAndOwesTheEndOfOneRunning) {
  LineRig rig;
  rig.run_for(100ms);
  rig.pulse(2, 200ms);
  rig.run_for(100ms);
  rig.line.set_device_lost(true);
  rig.silent = true;  // nothing reaches a device that is gone
  EXPECT_EQ(rig.pulse(3, 1s), SwitchRefusal::device_lost());
  rig.run_for(1s);
  rig.line.set_device_lost(false);
  rig.silent = false;
  rig.next = rig.now;
  rig.run_for(2s);
  EXPECT_EQ(rig.told,
            (Lines{"117 ms: 55 01 12 00 00 00 02 6A", "200 ms: line lost", "720 ms: board 1 lost",
                   "1397 ms: end sent 1/2", "1397 ms: ended late 1/2",
                   "1397 ms: 55 01 11 00 00 00 02 69", "1414 ms: back 1/2"}));
}

}  // namespace
