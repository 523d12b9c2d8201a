// What a line's owner keeps of its debts across a crash: the file's text byte for byte,
// and the debts put back at a start, in simulated time on the fake port.
#include "line/owed_state.h"

#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "fake_serial_port.h"
#include "line/local_line.h"
#include "protocol/status_frame.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Parsed = std::variant<OwedState, std::string>;

const Clock::time_point start = Clock::time_point{} + 1h;
// 2026-06-01T00:00:00Z at the simulated start.
const ClockAnchor anchor{std::chrono::system_clock::time_point(1780272000000ms), start};

TEST(OwedState, IsWrittenAndReadBackByteForByte) {
  const OwedState owed{{{1, 5, start - 2500ms}, {255, 16, start}},
                       {{1, 3, false, start - 1s, start + 2s}, {2, 1, true, start, start}}};
  const std::string text = owed_state_text(owed, anchor);
  EXPECT_EQ(text,
            "# what the line's owner owes its boards: rewritten as it changes\n"
            "on = 1 5 1780271997500\n"
            "on = 255 16 1780272000000\n"
            "pulse = 1 3 off 1780271999000 1780272002000\n"
            "pulse = 2 1 on 1780272000000 1780272000000\n");
  EXPECT_EQ(parse_owed_state(text, "f", anchor), Parsed(owed));
  EXPECT_EQ(owed_state_text({}, anchor),
            "# what the line's owner owes its boards: rewritten as it changes\n");
  // A later version's lines are passed over; blanks between the words say nothing.
  EXPECT_EQ(parse_owed_state("later = 1 2\r\non =  1\t5 1780272000000 \r\n", "f", anchor),
            Parsed(OwedState{{{1, 5, start}}, {}}));
  EXPECT_EQ(owed_state_file_name("north"), "owed-north.txt");
  EXPECT_EQ(owed_state_file_name("/dev/ttyUSB0"), "owed-_dev_ttyUSB0.txt");
}

// No value is guessed: each is the file's fault, said with its line.
TEST(OwedState, RefusesEveryValueOutOfRange) {
  const struct {
    const char* line;
    const char* why;
  } cases[] = {
      {"on = 256 5 0", "no board 0 to 255"},
      {"on = 1 17 0", "no relay 1 to 16"},
      {"on = 1 5 -1", "no time between 1970 and 9999 in milliseconds"},
      {"on = 1 5 253402300800000", "no time between 1970 and 9999 in milliseconds"},
      {"on = 1 5 9300000000000000000", "no time between 1970 and 9999 in milliseconds"},
      {"on = 1 5", "not \"board relay since\""},
      {"pulse = 1 5 0 0", "not \"board relay on|off started due\""},
      {"pulse = 1 5 up 0 0", "the state to go back to is no on|off"},
      {"pulse = 1 5 off 2000 1999", "due before it started"},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.line);
    EXPECT_EQ(parse_owed_state(std::string("on = 1 1 0\n") + each.line + "\n", "f", anchor),
              Parsed("f:2: " + std::string(each.line) + ": " + each.why));
  }
}

// Board 1 on the fake port, relay 5 under a max_on of 6 s, answering each frame 17 ms
// after it; the line recalls `owed` before its first poll, which starts at `start`.
struct RecallRig {
  RecallRig(std::uint16_t on, const OwedState& owed) : opened(on), line(port, {1}) {
    LineRules rules;
    rules.boards[1].max_on[4] = 6s;
    line.engine().set_rules(rules);
    line.engine().set_owner(true);
    port.open();
    port.set_receive_threshold(8);
    port.set_receive_handler([this] { line.on_receive(now); });
    line.recall(owed, now);
  }
  // The switches the board takes in `length`, each with its time.
  std::vector<std::string> run_for(Clock::duration length) {
    std::vector<std::string> told;
    const auto end = now + length;
    while (std::min(next, answer_at) <= end) {
      now = std::min(next, answer_at);
      if (now == answer_at) {
        answer_at = Clock::time_point::max();
        const auto status = StatusFrame::build(opened);
        port.receive({status.bytes.begin(), status.bytes.end()});
      }
      next = line.step(now);
      for (const auto& frame : std::exchange(port.writes, {})) {
        const auto bit = static_cast<std::uint16_t>(1u << ((frame[6] - 1) & 15));
        if (frame[2] == 0x11) opened &= static_cast<std::uint16_t>(~bit);
        if (frame[2] == 0x12) opened |= bit;
        if (frame[2] == 0x11 || frame[2] == 0x12)
          told.push_back(std::to_string((now - start) / 1ms) +
                         (frame[2] == 0x11 ? " ms: off " : " ms: on ") + std::to_string(frame[6]));
        answer_at = now + 17ms;
      }
    }
    now = end;
    return told;
  }

  FakeSerialPort port;
  std::uint16_t opened;
  LocalLine line;
  Clock::time_point now = start;
  Clock::time_point next = start;
  Clock::time_point answer_at = Clock::time_point::max();
};

// The first answer comes at 17 ms: what is past its time goes then, the rest at its own
// time, what the board shows off is forgotten.
TEST(OwedRecall, EachDebtActsAtTheFirstAnswerOrAtItsTime) {
  using Lines = std::vector<std::string>;
  constexpr std::uint16_t relay_3 = 1u << 2, relay_5 = 1u << 4;
  const struct {
    const char* label;
    std::uint16_t on;
    OwedState owed;
    Lines switched;
  } cases[] = {
      {"relay past its max_on", relay_5, {{{1, 5, start - 10s}}, {}}, {"17 ms: off 5"}},
      {"relay within its max_on", relay_5, {{{1, 5, start - 4s}}, {}}, {"2000 ms: off 5"}},
      {"relay on, nothing owed", relay_5, {}, {"6017 ms: off 5"}},
      {"relay found off", 0, {{{1, 5, start - 10s}}, {}}, {}},
      {"pulse past its end",
       relay_3,
       {{}, {{1, 3, false, start - 3s, start - 1s}}},
       {"17 ms: off 3"}},
      {"pulse not due", relay_3, {{}, {{1, 3, false, start - 1s, start + 2s}}}, {"2000 ms: off 3"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    RecallRig rig(c.on, c.owed);
    EXPECT_EQ(rig.line.owed(), c.owed);  // kept until the board has answered
    EXPECT_EQ(rig.run_for(10s), c.switched);
    EXPECT_TRUE(rig.line.owed().empty());
  }
  // A relay found off and switched on by hand later counts from the answer that shows it.
  RecallRig rig(0, {{{1, 5, start - 10s}}, {}});
  rig.run_for(1s);
  rig.opened = relay_5;
  EXPECT_EQ(rig.run_for(10s), (Lines{"7017 ms: off 5"}));
}

}  // namespace
