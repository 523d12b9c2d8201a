// Timetable entries as operators write them, and the line each fault is reported at.
#include "schedule/timetable_entry.h"

#include <gtest/gtest.h>

namespace {

using Action = TimetableEntry::Action;
using std::chrono::milliseconds;

TEST(TimetableEntry, ReadsEachForm) {
  const struct {
    const char* text;
    TimetableEntry entry;
  } cases[] = {
      {"at 06:30 mon-fri: 1/3 on",
       {"at 06:30 mon-fri: 1/3 on", 6, 30, 0x1F, 1, 0x0004, Action::on, milliseconds(0), false}},
      {" every day 22:00: 1/all off ",
       {"every day 22:00: 1/all off", 22, 0, 0x7F, 1, 0xFFFF, Action::off, milliseconds(0), false}},
      {"at 7:00: 255/5 pulse 10m",
       {"at 7:00: 255/5 pulse 10m", 7, 0, 0x7F, 255, 0x0010, Action::pulse, milliseconds(600000),
        false}},
      {"at 06:00 sat, sun:2/1-4,16 on , catch up",
       {"at 06:00 sat, sun:2/1-4,16 on , catch up", 6, 0, 0x60, 2, 0x800F, Action::on,
        milliseconds(0), true}},
      {"porch lights: every fri-mon 19:05: 0/7 on",
       {"porch lights", 19, 5, 0x71, 0, 0x0040, Action::on, milliseconds(0), false}},
      {"night: at 23:59 every day: 3/2 off",
       {"night", 23, 59, 0x7F, 3, 0x0002, Action::off, milliseconds(0), false}},
  };
  for (const auto& row : cases) {
    const auto parsed = parse_timetable_entry(row.text);
    ASSERT_TRUE(std::holds_alternative<TimetableEntry>(parsed)) << std::get<std::string>(parsed);
    EXPECT_EQ(std::get<TimetableEntry>(parsed), row.entry) << row.text;
  }
}

TEST(TimetableEntry, ReportsTheFirstFaultWithItsLine) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"06:30: 1/3 on",
       "b:4: an entry reads \"at 06:30 mon-fri: 1/3 on\", after an optional name:"},
      {"lights 1/3 on",
       "b:4: an entry reads \"at 06:30 mon-fri: 1/3 on\", after an optional name:"},
      {"at 06:30 1/3 on", "b:4: no ':' after the time and days"},
      {"at 24:00: 1/3 on", "b:4: \"24:00\" is not a time (HH:MM, 00:00 to 23:59)"},
      {"at 6:7: 1/3 on", "b:4: \"6:7\" is not a time (HH:MM, 00:00 to 23:59)"},
      {"every 06:30: 1/3 on",
       "b:4: \"every 06:30\" is not \"at HH:MM [days]\" or "
       "\"every DAYS HH:MM\""},
      {"at 06:30 mon-fry: 1/3 on",
       "b:4: \"mon-fry\" is not a day (mon tue wed thu fri sat sun) or a range of them"},
      {"at 06:30: 256/3 on", "b:4: \"256/3\" is not ADDRESS/RELAYS (1/3, 2/1-4, 1/all)"},
      {"at 06:30: 1/0-3 on", "b:4: \"0-3\" are not relays 1 to 16 (3, 1-4, 3,5, all)"},
      {"at 06:30: 1/17 on", "b:4: \"17\" are not relays 1 to 16 (3, 1-4, 3,5, all)"},
      {"at 06:30: 1/3 open", "b:4: say on, off or pulse DURATION after \"1/3\""},
      {"at 06:30: 1/3 pulse", "b:4: say on, off or pulse DURATION after \"1/3\""},
      {"at 06:30: 1/3 pulse 2d",
       "b:4: pulse 2d: write a number and a unit: ms, s, m or h (500ms, 1.5s, 2m, 1h)"},
      {"at 06:30: 1/3 on, catchup", "b:4: \"catchup\" is not an option (catch up)"},
  };
  for (const auto& row : cases) {
    const auto parsed = parse_timetable({{"at 05:00: 1/1 off", "b:3"}, {row.text, "b:4"}});
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << row.text;
    EXPECT_EQ(std::get<std::string>(parsed), row.error) << row.text;
  }
  // Pausing by name must reach one entry only.
  const auto twice =
      parse_timetable({{"a: at 05:00: 1/1 off", "b:3"}, {"a: at 06:00: 1/1 on", "b:9"}});
  EXPECT_EQ(std::get<std::string>(twice), "b:9: \"a\" is already the name of the entry at b:3");
}

}  // namespace
