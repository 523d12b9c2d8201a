// What relayctl log prints for each kind of event, and the times --since takes.
#include "event_log/event_text.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

namespace {

// The tests read local times in one zone, whatever the machine's.
class BerlinTime : public ::testing::Test {
 protected:
  BerlinTime() {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
  }
  ~BerlinTime() override {
    if (saved_)
      ::setenv("TZ", saved_->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  std::optional<std::string> saved_;
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
            "2026-12-08 04:12:05.120 ttyUSB0 board 1 relay 7 opened (was closed) by mqtt "
            "kitchen,\"tab\"\\u001b[2J");
  EXPECT_EQ(event_line(refused),
            "2026-12-08 04:12:05.120 ttyUSB0 board 1 relay 7 refused: relay 7 of board 1 is "
            "interlocked with relay 8, which is on from panel");
  EXPECT_EQ(event_line(limit),
            "2026-12-08 04:12:05.120 ttyUSB0 board 1 relay 7 closed (was opened) by rule max_on "
            "(on for 30s)");
  EXPECT_EQ(event_line(lost), "2026-12-08 04:12:05.120 ttyUSB0 board 1 lost by board");
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
  const auto local = [](int y, int mo, int d, int h, int mi) {
    std::tm parts{};
    parts.tm_year = y - 1900;
    parts.tm_mon = mo - 1;
    parts.tm_mday = d;
    parts.tm_hour = h;
    parts.tm_min = mi;
    parts.tm_isdst = -1;
    return std::chrono::time_point_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::from_time_t(std::mktime(&parts)));
  };
  using namespace std::chrono;
  const struct {
    const char* text;
    Event::Time expected;
  } cases[] = {
      {"today", local(2026, 12, 8, 0, 0)},
      {"yesterday", local(2026, 12, 7, 0, 0)},
      {"2026-12-07", local(2026, 12, 7, 0, 0)},
      {"2026-12-07 03:00", local(2026, 12, 7, 3, 0)},
      {"2026-10-25T02:30", local(2026, 10, 25, 2, 30)},
      {"90m", when - minutes(90)},
      {"3d", when - hours(72)},
  };
  for (const auto& row : cases) {
    const auto since = parse_since(row.text, when);
    ASSERT_EQ(since.index(), 0u) << row.text;
    EXPECT_EQ(std::get<Event::Time>(since), row.expected) << row.text;
  }
  for (const char* wrong :
       {"", "tomorrow", "2026-13-01", "2026-12-07 25:00", "-2h", "2026-12-07x"}) {
    EXPECT_EQ(parse_since(wrong, when).index(), 1u) << wrong;
  }
}

}  // namespace
