// What the bridge keeps of its timetable between runs, byte for byte.
#include "bridge/schedule_memory.h"

#include <gtest/gtest.h>

namespace {

using std::chrono::seconds;
using Time = std::chrono::system_clock::time_point;

TEST(ScheduleMemory, IsWrittenAndReadBack) {
  const ScheduleMemory memory{Time(seconds(1780272000)),
                              {"lights", "at 06:30 mon-fri: 1/3 on"},
                              Time(seconds(1780000000)),
                              {{Time(seconds(1780300000)), Time(seconds(1780310000))},
                               {Time(seconds(1780400000)), Time(seconds(1780400000))}}};
  const std::string text = schedule_memory_text(memory);
  EXPECT_EQ(text,
            "# relayboard-mqtt's timetable: rewritten as it runs\n"
            "settled = 1780272000\n"
            "settled-from = 1780000000\n"
            "settled-spans = 1780300000-1780310000 1780400000-1780400000\n"
            "paused = lights\n"
            "paused = at 06:30 mon-fri: 1/3 on\n");
  using Parsed = std::variant<ScheduleMemory, std::string>;
  EXPECT_EQ(parse_schedule_memory(text, "m"), Parsed(memory));
  // A later version's keys are passed over; an older file has no more than `settled`.
  EXPECT_EQ(parse_schedule_memory("next = 5\r\npaused =\r\npaused = a \r\nsettled = 7\r\n", "m"),
            Parsed(ScheduleMemory{Time(seconds(7)), {"a"}, std::nullopt, {}}));
  // No value makes a catch-up entry owe a run, nor overflows the clock.
  std::string many = "settled-spans =";  // a span more than a timetable keeps
  for (int span = 0; span <= 16; ++span) many += " 1-2";
  for (const std::string line :
       {"settled = 17x", "settled = -1", "settled = 253402300800", "settled = 9300000000000000000",
        "settled = ", "settled-from = 253402300800", "settled-spans = 5-4", "settled-spans = 1-2 3",
        "settled-spans = 1-253402300800", many.c_str()}) {
    SCOPED_TRACE(line);
    EXPECT_EQ(parse_schedule_memory("paused = a\n" + line + "\n", "m"),
              Parsed("m:2: " + line +
                     (line.starts_with("settled-spans")
                          ? " are not up to 16 spans FROM-TO, each ending no earlier than it "
                            "starts, in seconds between 1970 and 9999"
                          : " is no time between 1970 and 9999 in seconds")));
  }
  EXPECT_EQ(parse_schedule_memory("settled = 1\nsettled = 2\n", "m"),
            Parsed("m:2: settled: already set on line 1"));
  EXPECT_EQ(parse_schedule_memory("settled = 5\nsettled-from = 6\n", "m"),
            Parsed("m:2: settled-from = 6 is not at or before a settled time"));
  EXPECT_EQ(schedule_memory_file_name("com1"), "schedule-com1.txt");
}

}  // namespace
