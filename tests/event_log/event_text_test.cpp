// What relayctl log prints for each kind of event, and the times --since takes.
#include "event_log/event_text.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <utility>

#include "time_zone.h"

namespace {

// The tests read local times in one zone, whatever the machine's.
class BerlinTime : public ::testing::Test {
  TimeZoneScope zone_{"Europe/Berlin"};
};

// 2026-12-08 03:12:05.120 UTC, 04:12 in Berlin.
const Event::Time when{std::chrono::milliseconds(1796699525120)};

TEST_F(BerlinTime, EachKindAsALineJsonAndCsv) {
  Event switched;
  switched.at = when;
  switched.line = "ttyUSB0";
  switched.address = 1;
  switched.relay = 7;
  switched.was_on = false;
  switched.now_on = true;
  switched.source = "mqtt";
  switched.who = "kitchen,\"tab\"\x1b[2J";
  Event refused = switched;
  refused.kind = Event::Kind::refused;
  refused.was_on = refused.now_on = std::nullopt;
  refused.source = "panel";
  refused.who = "";
  refused.reason = "relay 7 of board 1 is interlocked with relay 8, which is on";
  Event limit = switched;
  limit.was_on = true;
  limit.now_on = false;
  limit.source = "rule";
  limit.who = "max_on";
  limit.reason = "on for 30s";
  Event lost = refused;
  lost.kind = Event::Kind::board_lost;
  lost.relay = 0;
  lost.reason = "";
  lost.source = "board";

  EXPECT_EQ(event_line(switched),
            "2026-12-08T04:12:05.120+01:00 ttyUSB0 board 1 relay 7 opened (was closed) by mqtt "
            "kitchen,\"tab\"\\u001b[2J");
  EXPECT_EQ(event_line(refused),
            "2026-12-08T04:12:05.120+01:00 ttyUSB0 board 1 relay 7 refused: relay 7 of board 1 is "
            "interlocked with relay 8, which is on (asked by panel)");
  EXPECT_EQ(
      event_line(limit),
      "2026-12-08T04:12:05.120+01:00 ttyUSB0 board 1 relay 7 closed (was opened) by rule max_on "
      "(on for 30s)");
  EXPECT_EQ(event_line(lost), "2026-12-08T04:12:05.120+01:00 ttyUSB0 board 1 lost by board");
  EXPECT_EQ(event_json(switched),
            "{\"time\":\"2026-12-08T03:12:05.120Z\",\"event\":\"switched\",\"line\":\"ttyUSB0\","
            "\"address\":1,\"relay\":7,\"was\":\"closed\",\"now\":\"opened\",\"source\":\"mqtt\","
            "\"who\":\"kitchen,\\\"tab\\\"\\u001b[2J\",\"reason\":\"\"}");
  EXPECT_EQ(event_csv_header(), "time,event,line,address,relay,was,now,source,who,reason");
  EXPECT_EQ(event_csv(switched),
            "2026-12-08T03:12:05.120Z,switched,ttyUSB0,1,7,closed,opened,mqtt,"
            "\"kitchen,\"\"tab\"\"\x1b[2J\",");
}

TEST_F(BerlinTime, SinceTakesDaysDatesAndSpans) {
  using namespace std::chrono;
  const struct {
    const char* text;
    Event::Time expected;
  } cases[] = {
      // Midnight in Berlin is 23:00 UTC the day before in winter.
      {"today", time_point_cast<milliseconds>(utc(2026, 12, 7, 23, 0))},
      {"yesterday", time_point_cast<milliseconds>(utc(2026, 12, 6, 23, 0))},
      {"2026-12-07", time_point_cast<milliseconds>(utc(2026, 12, 6, 23, 0))},
      {"2026-12-07 03:00", time_point_cast<milliseconds>(utc(2026, 12, 7, 2, 0))},
      {"90m", when - minutes(90)},
      {"3d", when - hours(72)},
  };
  for (const auto& row : cases) {
    const auto since = parse_since(row.text, when);
    ASSERT_EQ(since.index(), 0u) << row.text;
    EXPECT_EQ(std::get<Event::Time>(since), row.expected) << row.text;
  }
  for (const char* wrong : {"", "tomorrow", "2026-13-01", "2026-12-07 25:00", "-2h", "2026-12-07x",
                            "2026-02-30", "2026-12-07T03:00+1", "2026-12-07T03:00:00.5"}) {
    EXPECT_EQ(parse_since(wrong, when).index(), 1u) << wrong;
  }
}

// Around both changes of the clock in Berlin a line's time says its offset, and --since
// takes it back to the same moment; without the offset, a local time that the clock
// shows twice or skips is refused.
TEST_F(BerlinTime, TimesAroundTheClockChangesCarryTheirOffset) {
  using namespace std::chrono;
  const auto at = [](unsigned month, unsigned day, int hour, int minute) {
    return time_point_cast<milliseconds>(utc(2026, month, day, hour, minute));
  };
  const std::pair<Event::Time, const char*> shown[] = {
      {at(3, 29, 1, 0) - milliseconds(1), "2026-03-29T01:59:59.999+01:00"},
      {at(3, 29, 1, 0), "2026-03-29T03:00:00.000+02:00"},
      {at(10, 25, 0, 30), "2026-10-25T02:30:00.000+02:00"},
      {at(10, 25, 1, 30), "2026-10-25T02:30:00.000+01:00"},
  };
  for (const auto& [moment, text] : shown) {
    Event e;
    e.at = moment;
    EXPECT_EQ(event_line(e).substr(0, 29), text);
    EXPECT_EQ(parse_since(text, when), (std::variant<Event::Time, std::string>(moment))) << text;
  }
  const std::pair<const char*, std::variant<Event::Time, std::string>> read[] = {
      {"2026-10-25T00:30:00Z", at(10, 25, 0, 30)},
      {"2026-10-25 02:30",
       "--since: \"2026-10-25 02:30\" is shown twice by the local clock: give its offset from "
       "UTC (2026-10-25T02:30+02:00 or 2026-10-25T02:30+01:00)"},
      {"2026-03-29 02:30",
       "--since: \"2026-03-29 02:30\" is no time of the local clock, which skips it"},
  };
  for (const auto& [text, since] : read) EXPECT_EQ(parse_since(text, when), since) << text;
}

}  // namespace
