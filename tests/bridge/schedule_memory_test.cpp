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
  EXPECT_EQ(parse_schedule_memory(text), memory);
  // A later version's keys and a torn number are passed over.
  EXPECT_EQ(parse_schedule_memory("next = 5\r\nsettled = 17x\npaused =\r\npaused = a \r\n"),
            (ScheduleMemory{std::nullopt, {"a"}}));
  EXPECT_EQ(schedule_memory_file_name("com1"), "schedule-com1.txt");
}

}  // namespace
