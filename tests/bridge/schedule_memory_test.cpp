// What the bridge keeps of its timetable between runs, byte for byte.
#include "bridge/schedule_memory.h"

#include <gtest/gtest.h>

namespace {

TEST(ScheduleMemory, IsWrittenAndReadBack) {
  const ScheduleMemory memory{
      std::chrono::system_clock::time_point(std::chrono::seconds(1780272000)),
      {"lights", "at 06:30 mon-fri: 1/3 on"}};
  const std::string text = schedule_memory_text(memory);
  EXPECT_EQ(text,
            "# relayboard-mqtt's timetable: rewritten as it runs\n"
            "settled = 1780272000\n"
            "paused = lights\n"
            "paused = at 06:30 mon-fri: 1/3 on\n");
  using Parsed = std::variant<ScheduleMemory, std::string>;
  EXPECT_EQ(parse_schedule_memory(text, "m"), Parsed(memory));
  // A later version's keys are passed over.
  EXPECT_EQ(parse_schedule_memory("next = 5\r\npaused =\r\npaused = a \r\n", "m"),
            Parsed(ScheduleMemory{std::nullopt, {"a"}}));
  // No value makes a catch-up entry owe a run, nor overflows the clock.
  for (const char* settled : {"17x", "-1", "253402300800", "9300000000000000000", ""}) {
    SCOPED_TRACE(settled);
    EXPECT_EQ(parse_schedule_memory(std::string("paused = a\nsettled = ") + settled + "\n", "m"),
              Parsed("m:2: settled = " + std::string(settled) +
                     " is no time between 1970 and 9999 in seconds"));
  }
  EXPECT_EQ(parse_schedule_memory("settled = 1\nsettled = 2\n", "m"),
            Parsed("m:2: settled: already set on line 1"));
  EXPECT_EQ(schedule_memory_file_name("com1"), "schedule-com1.txt");
}

}  // namespace
