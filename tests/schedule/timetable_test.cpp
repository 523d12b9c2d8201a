// When timetable entries run, on a simulated wall clock in named time zones, across both
// daylight-saving changes, a clock that jumps and a paused entry.
#include "schedule/timetable.h"

#include <gtest/gtest.h>

#include "time_zone.h"

namespace {

using std::chrono::minutes;
using Clock = Timetable::Clock;

TimetableEntry entry(const char* text) {
  return std::get<TimetableEntry>(parse_timetable_entry(text));
}

// Berlin leaves 02:00-03:00 out on 2026-03-29 (01:00 UTC) and shows 02:00-03:00 twice
// on 2026-10-25 (00:00-01:00 UTC in summer time, then 01:00-02:00 UTC); New York on
// 2026-03-08 (07:00 UTC) and 2026-11-01 (01:00-02:00 at 05:00 UTC, then at 06:00 UTC).
TEST(Timetable, NextRunsAcrossDaylightSavingChanges) {
  const struct {
    const char* zone;
    const char* entry;
    Clock::time_point after;
    Clock::time_point next;
  } cases[] = {
      {"Europe/Berlin", "at 02:30: 1/1 on", utc(2026, 3, 29, 0, 0), utc(2026, 3, 29, 1, 0)},
      {"Europe/Berlin", "at 02:30: 1/1 on", utc(2026, 3, 29, 1, 0), utc(2026, 3, 30, 0, 30)},
      {"Europe/Berlin", "at 03:00: 1/1 on", utc(2026, 3, 28, 12, 0), utc(2026, 3, 29, 1, 0)},
      {"Europe/Berlin", "at 06:30 mon-fri: 1/1 on", utc(2026, 3, 27, 6, 0),
       utc(2026, 3, 30, 4, 30)},
      {"Europe/Berlin", "at 02:30: 1/1 on", utc(2026, 10, 24, 12, 0), utc(2026, 10, 25, 0, 30)},
      {"Europe/Berlin", "at 02:30: 1/1 on", utc(2026, 10, 25, 0, 30), utc(2026, 10, 26, 1, 30)},
      {"Europe/Berlin", "every sun 22:00: 1/1 off", utc(2026, 10, 18, 21, 0),
       utc(2026, 10, 25, 21, 0)},
      {"America/New_York", "at 02:30 sun: 1/1 on", utc(2026, 3, 7, 0, 0), utc(2026, 3, 8, 7, 0)},
      {"America/New_York", "at 02:30 sun: 1/1 on", utc(2026, 3, 8, 7, 0), utc(2026, 3, 15, 6, 30)},
      {"America/New_York", "at 01:30: 1/1 on", utc(2026, 10, 31, 12, 0), utc(2026, 11, 1, 5, 30)},
      {"America/New_York", "at 01:30: 1/1 on", utc(2026, 11, 1, 5, 30), utc(2026, 11, 2, 6, 30)},
  };
  for (const auto& row : cases) {
    const TimeZoneScope zone(row.zone);
    EXPECT_EQ(run_after(entry(row.entry), row.after), row.next) << row.zone << " " << row.entry;
  }
}

// A host that looks every minute through both nights runs each entry exactly once.
TEST(Timetable, RunsOnceThroughEachChangeWhenCalledEveryMinute) {
  const struct {
    const char* zone;
    const char* entry;
    Clock::time_point from;
    Clock::time_point run;
  } cases[] = {
      {"Europe/Berlin", "at 02:30: 1/1 on", utc(2026, 3, 28, 22, 0), utc(2026, 3, 29, 1, 0)},
      {"Europe/Berlin", "at 02:30: 1/1 on", utc(2026, 10, 24, 22, 0), utc(2026, 10, 25, 0, 30)},
      {"America/New_York", "at 02:30: 1/1 on", utc(2026, 3, 8, 3, 0), utc(2026, 3, 8, 7, 0)},
      {"America/New_York", "at 01:30: 1/1 on", utc(2026, 11, 1, 3, 0), utc(2026, 11, 1, 5, 30)},
  };
  for (const auto& row : cases) {
    const TimeZoneScope zone(row.zone);
    Timetable timetable({entry(row.entry)}, row.from);
    std::vector<Clock::time_point> runs;
    for (auto now = row.from; now < row.from + std::chrono::hours(8); now += minutes(1)) {
      if (!timetable.due(now).empty()) runs.push_back(now);
    }
    EXPECT_EQ(runs, std::vector<Clock::time_point>{row.run}) << row.zone << " " << row.entry;
  }
}

// Down from Monday 05:00 to Tuesday 07:00 local: only the entries that say so run, once
// each, the last missed word on a relay last; the entry without "catch up" is let go.
TEST(Timetable, MissedRunsCatchUpOnceInTheOrderTheyWereDue) {
  const TimeZoneScope zone("Europe/Berlin");
  Timetable timetable({entry("at 06:00: 1/1 on, catch up"), entry("at 22:00: 1/1 off, catch up"),
                       entry("at 12:00: 1/2 on")},
                      utc(2026, 6, 1, 3, 0));
  EXPECT_EQ(timetable.due(utc(2026, 6, 2, 5, 0)), (std::vector<std::size_t>{1, 0}));
  EXPECT_TRUE(timetable.due(utc(2026, 6, 2, 5, 1)).empty());
  EXPECT_EQ(timetable.settled(), utc(2026, 6, 2, 5, 0));
  EXPECT_EQ(timetable.next_run(0), utc(2026, 6, 3, 4, 0));
  EXPECT_EQ(timetable.next_run(2), utc(2026, 6, 2, 10, 0));
  // A minute late is on time; two days' sleep lets the plain entry's runs go.
  EXPECT_EQ(timetable.due(utc(2026, 6, 2, 10, 1)), std::vector<std::size_t>{2});
  EXPECT_EQ(timetable.due(utc(2026, 6, 4, 11, 0)), (std::vector<std::size_t>{1, 0}));
  EXPECT_EQ(timetable.next_due(), utc(2026, 6, 4, 20, 0));
  // A clock set back a month does not wait a month for the next runs.
  EXPECT_TRUE(timetable.due(utc(2026, 5, 4, 9, 0)).empty());
  EXPECT_EQ(timetable.next_run(2), utc(2026, 5, 4, 10, 0));
}

TEST(Timetable, APausedEntryLetsItsRunsGo) {
  const TimeZoneScope zone("Europe/Berlin");
  Timetable timetable({entry("lights: at 06:00: 1/1 on, catch up")}, utc(2026, 6, 1, 0, 0));
  EXPECT_FALSE(timetable.set_paused("at 06:00: 1/1 on, catch up", true));
  ASSERT_TRUE(timetable.set_paused("lights", true));
  EXPECT_TRUE(timetable.due(utc(2026, 6, 1, 4, 0)).empty());
  EXPECT_EQ(timetable.settled(), utc(2026, 6, 1, 4, 0));  // a paused run passes all the same
  ASSERT_TRUE(timetable.set_paused("lights", false));
  EXPECT_TRUE(timetable.due(utc(2026, 6, 1, 4, 1)).empty());
  EXPECT_EQ(timetable.due(utc(2026, 6, 2, 4, 0)), std::vector<std::size_t>{0});
}

}  // namespace
