// Which commands an interlock refuses, with the reason the operator reads, and when a
// relay's max_on falls due.
#include "line/interlock.h"

#include <gtest/gtest.h>

#include "line/max_on.h"

namespace {

LineRules motor_rules() {
  LineRules rules;
  BoardRules& board = rules.boards[1];
  board.interlocks = {0x0003, 0x0070};  // 1,2 and 5-7
  board.max_on[4] = std::chrono::seconds(30);
  return rules;
}

TEST(Interlock, RefusesOnlyWhatWouldLeaveTwoOfAGroupOn) {
  const LineRules rules = motor_rules();
  constexpr auto open = BoardCommand::OpenRelay;
  const struct {
    std::uint8_t address;
    std::optional<std::uint16_t> opened;
    BoardCommand command;
    std::uint8_t data1, data2;
    const char* refusal;  // nullptr: allowed
  } cases[] = {
      {1, 0x0001, open, 0, 2, "relay 2 of board 1 is interlocked with relay 1, which is on"},
      {1, 0x0020, open, 0, 7, "relay 7 of board 1 is interlocked with relay 6, which is on"},
      {1, 0x0000, open, 0, 2, nullptr},
      {1, 0x0001, open, 0, 3, nullptr},                      // not in a group
      {1, 0x0001, open, 0, 1, nullptr},                      // already on, alone in its group
      {2, 0x0001, open, 0, 2, nullptr},                      // another board has no rules
      {1, 0x0003, BoardCommand::CloseRelay, 0, 1, nullptr},  // off is always safe
      {1, std::nullopt, BoardCommand::CloseRelay, 0, 2, nullptr},
      {1, std::nullopt, open, 0, 2,
       "relay 2 of board 1 is interlocked and the board's states are not known yet"},
      {1, std::nullopt, open, 0, 9, nullptr},
      {1, 0x0000, BoardCommand::SetAllRelays, 0xFF, 0xFF,
       "relays 1 and 2 of board 1 are interlocked: only one may be on at a time"},
      {1, 0xFFFF, BoardCommand::SetAllRelays, 0x00, 0x00, nullptr},
      {1, 0x0003, BoardCommand::QueryStatus, 0, 0, nullptr},
  };
  for (const auto& row : cases) {
    const auto refusal =
        interlock_refusal(rules, row.address, row.opened, row.command, row.data1, row.data2);
    EXPECT_EQ(refusal.value_or("allowed"), row.refusal ? row.refusal : "allowed")
        << "board " << int(row.address) << " relay " << int(row.data2);
  }
}

TEST(MaxOn, NamesARelayOnceWhenItsTimeIsUpAndAgainAfterItWasOff) {
  const LineRules rules = motor_rules();
  MaxOnWatch watch(rules);
  const auto start = MaxOnWatch::Clock::time_point{} + std::chrono::hours(1);
  using std::chrono::seconds;
  EXPECT_FALSE(watch.next_due());
  watch.reported(1, 0x0010, start);  // relay 5 found on
  watch.reported(1, 0x0010, start + seconds(10));
  EXPECT_EQ(watch.next_due(), start + seconds(30));
  EXPECT_TRUE(watch.take_due(start + seconds(29)).empty());
  const std::vector<MaxOnWatch::Due> due{{1, 5, seconds(30)}};
  EXPECT_EQ(watch.take_due(start + seconds(30)), due);
  EXPECT_TRUE(watch.take_due(start + seconds(31)).empty());  // named once
  EXPECT_FALSE(watch.next_due());
  watch.reported(1, 0x0000, start + seconds(32));
  watch.reported(1, 0x0010, start + seconds(40));  // on again: its time starts anew
  EXPECT_EQ(watch.next_due(), start + seconds(70));
  watch.reported(2, 0xFFFF, start);  // a board without rules is never due
  EXPECT_EQ(watch.take_due(start + seconds(70)), due);
}

}  // namespace
