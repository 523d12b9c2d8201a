// The rules file as operators write it, and the line each fault is reported at.
#include "line/rules_file.h"

#include <gtest/gtest.h>

namespace {

TEST(RulesFile, ReadsEachRuleOfEachBoard) {
  const auto parsed = parse_rules(
      "# reversing motor\n"
      "[address 1]\n"
      "interlock = 1,2\n"
      "interlock = 5-7\n"
      "max_on = 5: 30s\n"
      "max_on = 16 : 1.5m\r\n"
      "on_start = 3,4 on\n"
      "on_stop = off   # the motor stops with the bridge\n"
      "\n"
      "[ address 200 ]\n"
      "on_start = off\n",
      "rules.conf");
  ASSERT_TRUE(std::holds_alternative<LineRules>(parsed)) << std::get<std::string>(parsed);
  const LineRules& rules = std::get<LineRules>(parsed);
  ASSERT_EQ(rules.boards.size(), 2u);
  const BoardRules& first = *rules.find(1);
  EXPECT_EQ(first.interlocks, (std::vector<std::uint16_t>{0x0003, 0x0070}));
  EXPECT_EQ(first.max_on[4], std::chrono::seconds(30));
  EXPECT_EQ(first.max_on[15], std::chrono::seconds(90));
  EXPECT_FALSE(first.max_on[0]);
  EXPECT_EQ(first.on_start, BoardRules::Start::exactly);
  EXPECT_EQ(first.start_opened, 0x000C);
  EXPECT_EQ(first.on_stop, BoardRules::Stop::off);
  EXPECT_EQ(rules.find(200)->on_start, BoardRules::Start::off);
  EXPECT_EQ(rules.find(2), nullptr);
}

TEST(RulesFile, ReportsTheFirstFaultWithItsLine) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"interlock = 1,2\n", "r:1: a rule before the first [address N]"},
      {"[address 256]\n", "r:1: a section is [address N], N from 0 to 255"},
      {"[board 1]\n", "r:1: a section is [address N], N from 0 to 255"},
      {"[address 1]\n[address 1]\n", "r:2: board 1 has two sections"},
      {"[address 1]\ninterlock 1,2\n", "r:2: no '=' between rule and value"},
      {"[address 1]\ninterlock = 3\n", "r:2: an interlock needs two relays or more"},
      {"[address 1]\ninterlock = 1,17\n",
       "r:2: \"17\" is not a relay (1 to 16) or a range of them"},
      {"[address 1]\ninterlock = 4-2\n",
       "r:2: \"4-2\" is not a relay (1 to 16) or a range of them"},
      {"[address 1]\nmax_on = 5\n", "r:2: write max_on = relay: duration (5: 30s)"},
      {"[address 1]\nmax_on = 0: 1s\n", "r:2: max_on names no relay 1 to 16"},
      {"[address 1]\nmax_on = 5: soon\n",
       "r:2: max_on of relay 5: write a number and a unit: ms, s, m or h (500ms, 1.5s, 2m, 1h)"},
      {"[address 1]\nmax_on = 5: 1s\nmax_on = 5: 2s\n", "r:3: max_on of relay 5 given twice"},
      {"[address 1]\non_start = on\n",
       "r:2: on_start is keep, off, or the relays to switch on (3,4 on)"},
      {"[address 1]\non_stop = 1 on\n", "r:2: on_stop is keep or off"},
      {"[address 1]\non_start = off\non_start = 3 on\n", "r:3: on_start: already set on line 2"},
      {"[address 1]\nmax_off = 1: 1s\n",
       "r:2: no rule is called \"max_off\" (interlock, max_on, on_start, on_stop)"},
      // A start state the interlock forbids is reported at its board's section.
      {"\n[address 3]\ninterlock = 1,2\non_start = 1,2 on\n",
       "r:2: on_start switches on two relays of one interlock"},
  };
  for (const auto& row : cases) {
    const auto parsed = parse_rules(row.text, "r");
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << row.text;
    EXPECT_EQ(std::get<std::string>(parsed), row.error) << row.text;
  }
}

}  // namespace
