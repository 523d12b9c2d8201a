#include "line/verified_switch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = VerifiedSwitch::Clock;

// A board that answers each request at once with its states, unless it is silent, deaf
// (answers, switches nothing) or stuck (never closes a relay); the operator may interrupt.
struct Case {
  const char* what;
  std::uint16_t relays;
  bool opened;
  std::optional<Clock::duration> hold;
  bool silent, deaf;
  std::optional<Clock::duration> interrupt_at;
  std::vector<std::string> requests;  // command byte and relay, in hex
  VerifiedSwitch::Result result;
  Clock::duration held;
  bool stuck = false;
};

TEST(VerifiedSwitch, ReadsSwitchesOnlyWhatDiffersHoldsAndVerifies) {
  using R = VerifiedSwitch::Result;
  // clang-format off
  const Case cases[] = {
      {"pulse", 0x0004, true, 500ms, false, false, {}, {"10", "12 03", "11 03", "10"}, R::done, 0ms},
      {"cut short in the hold", 0x0004, true, 500ms, false, false, 200ms,
       {"10", "12 03", "11 03", "10"}, R::done, 200ms},
      {"interrupted before switching", 0x0004, true, 500ms, false, false, 0ms, {}, R::not_switched,
       0ms},
      {"all on a deaf board", 0xFFFF, true, {}, false, true, {}, {"10", "13 FF", "10"},
       R::not_reached, 0ms},
      {"silent", 0x0001, false, {}, true, false, {}, {"10", "10", "10"}, R::no_answer, 0ms},
      {"already there", 0x0001, false, {}, false, false, {}, {"10", "10"}, R::done, 0ms},
      {"stuck after the pulse", 0x0006, true, 500ms, false, false, {},
       {"10", "12 02", "12 03", "11 02", "11 03", "10"}, R::not_reached, 0ms, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VerifiedSwitch run(1, c.relays, c.opened, c.hold);
    std::uint16_t states = 0;
    const Clock::time_point start{};
    Clock::time_point now = start;
    std::vector<std::string> requests;
    if (c.interrupt_at == 0ms) run.interrupt(now);
    Clock::time_point hold_end{};
    while (true) {
      const auto step = run.next(now);
      if (step.wait_until) {
        hold_end = *step.wait_until;
        if (c.interrupt_at && start + *c.interrupt_at < hold_end) {
          now = start + *c.interrupt_at;
          run.interrupt(now);
        } else {
          now = hold_end;
        }
        continue;
      }
      if (!step.request) break;
      const QueuedSwitch& frame = *step.request;
      char text[8];
      std::snprintf(text, sizeof text, frame.data2 ? "%02X %02X" : "%02X",
                    static_cast<int>(frame.command), frame.data2);
      requests.emplace_back(text);
      if (!c.deaf && !(c.stuck && frame.command == BoardCommand::CloseRelay)) {
        apply_switch(frame, states, states);
      }
      run.answered(c.silent ? std::nullopt : std::optional(states), now);
    }
    EXPECT_EQ(requests, c.requests);
    EXPECT_EQ(run.result(), c.result);
    EXPECT_EQ(run.held(), c.held);
    if (c.hold && c.result == R::done && !c.interrupt_at) {
      EXPECT_EQ(hold_end, start + *c.hold);
    }
    if (c.result == R::not_reached) {
      EXPECT_EQ(run.missed(), c.relays);
      EXPECT_EQ(run.missed_opened(), !c.stuck);
    }
  }
}

}  // namespace
