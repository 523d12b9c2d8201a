// When timetable entries run, on a simulated wall clock in named time zones, across both
// daylight-saving changes, a clock that jumps and a paused entry.
#include "schedule/timetable.h"

#include <gtest/gtest.h>

#include "schedule/local_clock.h"
#include "time_zone.h"

namespace {

using std::chrono::minutes;
using std::chrono::seconds;
using Clock = Timetable::Clock;
using Lines = std::vector<std::string>;

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
      if (!timetable.due(now, minutes(1)).run.empty()) runs.push_back(now);
    }
    EXPECT_EQ(runs, std::vector<Clock::time_point>{row.run}) << row.zone << " " << row.entry;
  }
  // The two showings of 02:30 in Berlin, told apart as a log shows them.
  const TimeZoneScope zone("Europe/Berlin");
  EXPECT_EQ(local_minute_text(utc(2026, 10, 25, 0, 30)), "2026-10-25 02:30 +02:00");
  EXPECT_EQ(local_minute_text(utc(2026, 10, 25, 1, 30)), "2026-10-25 02:30 +01:00");
}

// Down from Monday 05:00 to Tuesday 07:00 local: only the entries that say so run, once
// each, the last missed word on a relay last; the entry without "catch up" is let go.
TEST(Timetable, MissedRunsCatchUpOnceInTheOrderTheyWereDue) {
  const TimeZoneScope zone("Europe/Berlin");
  Timetable timetable({entry("at 06:00: 1/1 on, catch up"), entry("at 22:00: 1/1 off, catch up"),
                       entry("at 12:00: 1/2 on")},
                      utc(2026, 6, 1, 3, 0));
  EXPECT_EQ(timetable.due(utc(2026, 6, 2, 5, 0), {}).run, (std::vector<std::size_t>{1, 0}));
  EXPECT_TRUE(timetable.due(utc(2026, 6, 2, 5, 1), minutes(1)).run.empty());
  EXPECT_EQ(timetable.settled().to, utc(2026, 6, 2, 5, 0));
  EXPECT_EQ(timetable.next_run(0), utc(2026, 6, 3, 4, 0));
  EXPECT_EQ(timetable.next_run(2), utc(2026, 6, 2, 10, 0));
  // A minute late is on time; two days' sleep lets the plain entry's runs go.
  EXPECT_EQ(timetable.due(utc(2026, 6, 2, 10, 1), std::chrono::hours(5)).run,
            std::vector<std::size_t>{2});
  EXPECT_EQ(timetable.due(utc(2026, 6, 4, 11, 0), {}).run, (std::vector<std::size_t>{1, 0}));
  EXPECT_EQ(timetable.next_due(), utc(2026, 6, 4, 20, 0));
  // A clock set back a month does not wait a month for the next runs.
  EXPECT_TRUE(timetable.due(utc(2026, 5, 4, 9, 0), minutes(1)).run.empty());
  EXPECT_EQ(timetable.next_run(2), utc(2026, 5, 4, 10, 0));
}

TEST(Timetable, APausedEntryLetsItsRunsGo) {
  const TimeZoneScope zone("Europe/Berlin");
  Timetable timetable({entry("lights: at 06:00: 1/1 on, catch up")}, utc(2026, 6, 1, 0, 0));
  EXPECT_FALSE(timetable.set_paused("at 06:00: 1/1 on, catch up", true));
  ASSERT_TRUE(timetable.set_paused("lights", true));
  EXPECT_TRUE(timetable.due(utc(2026, 6, 1, 4, 0), {}).run.empty());
  EXPECT_EQ(timetable.settled().to, utc(2026, 6, 1, 4, 0));  // a paused run passes all the same
  ASSERT_TRUE(timetable.set_paused("lights", false));
  EXPECT_TRUE(timetable.due(utc(2026, 6, 1, 4, 1), minutes(1)).run.empty());
  EXPECT_EQ(timetable.due(utc(2026, 6, 2, 4, 0), std::chrono::days(1)).run,
            std::vector<std::size_t>{0});
}

// A host that looks every 30 s of its own time, as the bridge does, while the wall clock
// is set, or is down and starts again from what it kept. It writes each run made as
// "name TIME; ", each entry's missed runs as "name: COUNT from TIME WHY; ".
struct Host {
  enum Step { live, set, down };
  void take(Step step, Clock::time_point until) {
    if (step == down) timetable = Timetable(entries, timetable.settled(), timetable.other_spans());
    if (step != live) wall = until;
    if (step == down) look({});
    for (; step == live && wall + seconds(30) <= until; look(seconds(30))) wall += seconds(30);
  }
  void look(Clock::duration lived) {
    const Timetable::Due due = timetable.due(wall, lived);
    for (const auto& m : due.missed) {
      log += entries[m.entry].name + ": " + std::to_string(m.runs) + " from " +
             local_minute_text(m.first) + " " + "pdjl"[static_cast<int>(m.why)] +
             (m.caught_up ? " caught up; " : "; ");
    }
    for (const auto entry : due.run)
      log += entries[entry].name + " " + local_minute_text(wall) + "; ";
  }
  std::vector<TimetableEntry> entries;
  Timetable timetable;
  Clock::time_point wall;
  std::string log;
};

// Berlin in summer, from Sunday 2026-06-07 09:59 (07:59 UTC): the clock set back to
// Friday after Sunday's 10:00 runs makes Friday's and Saturday's runs, and Sunday's never
// again, however it goes on; a jump or an outage is recorded, a catch-up entry run once.
TEST(Timetable, EachRunIsMadeOnceOrRecordedWhateverTheClockDoes) {
  const TimeZoneScope zone("Europe/Berlin");
  using enum Host::Step;
  using namespace std::chrono_literals;
  const std::vector<TimetableEntry> week{entry("daily: at 10:00: 1/1 on"),
                                         entry("weekly: at 10:00 sun: 1/2 on")};
  const std::vector<TimetableEntry> day{entry("plain: at 11:00: 1/3 on"),
                                        entry("owed: at 12:00: 1/4 on, catch up")};
  const auto start = utc(2026, 6, 7, 7, 59), sunday = start + 90s, saturday = utc(2026, 6, 6, 9, 0);
  const auto monday = utc(2026, 6, 8, 8, 1);
  const std::pair<Host::Step, Clock::time_point> back{set, utc(2026, 6, 5, 7, 59) + 30s};
  const std::string sunday_runs = "daily 2026-06-07 10:00 +02:00; weekly 2026-06-07 10:00 +02:00; ";
  const std::string back_runs =
      sunday_runs + "daily 2026-06-05 10:00 +02:00; daily 2026-06-06 10:00 +02:00; ";
  const std::string monday_run = "daily 2026-06-08 10:00 +02:00; ";
  const struct {
    const std::vector<TimetableEntry>& entries;
    std::vector<std::pair<Host::Step, Clock::time_point>> steps;  // after Sunday's runs
    std::string log;
  } cases[] = {
      {week, {back, {live, monday}}, back_runs + monday_run},
      {week,
       {back, {live, saturday}, {down, saturday + 1min}, {live, monday}},
       back_runs + monday_run},
      {week,
       {back, {live, saturday}, {set, saturday + 48h}, {live, saturday + 49h}},
       back_runs + "daily: 1 from 2026-06-08 10:00 +02:00 j; "},
      // Set ahead two days by mistake and back: the runs jumped over are made after all.
      {week,
       {{set, sunday + 48h}, {live, sunday + 49h}, {set, sunday + 1h}, {live, sunday + 49h}},
       sunday_runs + "daily: 2 from 2026-06-08 10:00 +02:00 j; " + monday_run +
           "daily 2026-06-09 10:00 +02:00; "},
      {week,
       {{down, utc(2026, 6, 10, 8, 30)}},
       sunday_runs + "daily: 3 from 2026-06-08 10:00 +02:00 d; "},
      {day,
       {{set, sunday + 3h}, {live, sunday + 4h}},
       "plain: 1 from 2026-06-07 11:00 +02:00 j; owed: 1 from 2026-06-07 12:00 +02:00 j caught up; "
       "owed 2026-06-07 13:01 +02:00; "},
      {day,
       {{down, sunday + 3h}},
       "plain: 1 from 2026-06-07 11:00 +02:00 d; owed: 1 from 2026-06-07 12:00 +02:00 d caught up; "
       "owed 2026-06-07 13:00 +02:00; "},
  };
  for (const auto& c : cases) {
    Host host{c.entries, Timetable(c.entries, start), start, {}};
    host.take(live, sunday);
    for (const auto& [step, until] : c.steps) host.take(step, until);
    EXPECT_EQ(host.log, c.log);
  }
}

}  // namespace
