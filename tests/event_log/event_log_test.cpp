// The event log on a real database: what goes in comes out, filtered, and no more than
// the limits keep.
#include "event_log/event_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "log_folder.h"

namespace {

Event::Time at_ms(std::int64_t ms) {
  return Event::Time(std::chrono::milliseconds(ms));
}

Event event(std::int64_t ms, Event::Kind kind, std::uint8_t address, int relay) {
  Event e;
  e.at = at_ms(ms);
  e.kind = kind;
  e.line = "ttyUSB0";
  e.address = address;
  e.relay = relay;
  e.source = "mqtt";
  return e;
}

class EventLogFile : public ::testing::Test {
 protected:
  std::filesystem::path path() const { return folder.path / "events.db"; }
  std::unique_ptr<EventLog> open(EventLogLimits limits = {}) {
    auto opened = EventLog::open(path(), limits);
    if (auto* why = std::get_if<std::string>(&opened)) ADD_FAILURE() << *why;
    return opened.index() == 0 ? std::move(std::get<0>(opened)) : nullptr;
  }
  std::vector<Event> read(const EventFilter& filter = {}) const {
    std::vector<Event> events;
    const auto why = read_events(path(), filter, [&](const Event& e) { events.push_back(e); });
    EXPECT_FALSE(why) << *why;
    return events;
  }
  LogFolder folder;
};

TEST_F(EventLogFile, KeepsEveryFieldAndFiltersByTimeBoardAndRelay) {
  Event switched = event(1000, Event::Kind::switched, 1, 7);
  switched.was_on = false;
  switched.now_on = true;
  switched.who = "kitchen \"tablet\"\n";
  Event refused = event(2000, Event::Kind::refused, 1, 2);
  refused.source = "relayctl";
  refused.reason = "relay 2 of board 1 is interlocked with relay 1, which is on";
  const Event lost = event(3000, Event::Kind::board_lost, 1, 0);
  const Event other = event(4000, Event::Kind::board_back, 2, 0);
  {
    auto log = open();
    ASSERT_TRUE(log);
    for (const Event& e : {switched, refused, lost, other}) ASSERT_FALSE(log->append(e));
  }
  EXPECT_EQ(read(), (std::vector<Event>{switched, refused, lost, other}));
  EXPECT_EQ(read({at_ms(2000), {}, {}}), (std::vector<Event>{refused, lost, other}));
  EXPECT_EQ(read({{}, 1, {}}), (std::vector<Event>{switched, refused, lost}));
  // A relay's history holds what befell its whole board.
  EXPECT_EQ(read({{}, 1, 7}), (std::vector<Event>{switched, lost}));
}

TEST_F(EventLogFile, DropsTheOldestPastItsLimitsAndIsNeverMadeByAReader) {
  std::vector<Event> ignored;
  EXPECT_EQ(read_events(path(), {}, [&](const Event& e) { ignored.push_back(e); }),
            path().string() + ": no event log here yet");
  EXPECT_FALSE(std::filesystem::exists(path()));
  {
    auto log = open({100, std::nullopt});
    ASSERT_TRUE(log);
    for (int i = 0; i < 1000; ++i) ASSERT_FALSE(log->append(event(i, Event::Kind::switched, 1, 1)));
  }
  auto kept = read();
  ASSERT_EQ(kept.size(), 100u);
  EXPECT_EQ(kept.front().at, at_ms(900));
  // By age, at the next open: the events are from 1970.
  open({100, std::chrono::hours(24)});
  EXPECT_TRUE(read().empty());
}

// A FIFO in the log's place (the state folder may be shared) is refused at once by the
// programs that write and by relayctl log, rather than waited on for good.
TEST_F(EventLogFile, AFifoInItsPlaceIsRefusedNotWaitedOn) {
  ASSERT_EQ(::mkfifo(path().c_str(), 0600), 0);
  const auto opened = EventLog::open(path(), {});
  ASSERT_EQ(opened.index(), 1u);
  EXPECT_NE(std::get<1>(opened).find(path().string() + ": "), std::string::npos);
  const auto why = read_events(path(), {}, [](const Event&) {});
  ASSERT_TRUE(why);
  EXPECT_EQ(why->rfind(path().string() + ": ", 0), 0u);
}

// The limits an operator sets in the state folder's events.conf, and the faults named
// with their line; what the file leaves out keeps its default.
TEST(EventLogLimitsFile, SetsEitherLimitOrNamesTheFault) {
  using std::chrono::hours;
  struct Case {
    std::string text;
    std::variant<EventLogLimits, std::string> read;
  };
  const Case cases[] = {
      {"", EventLogLimits{}},
      {"# kept small\nlog-max-events = 5000\n\nlog-max-age = 90d\n",
       EventLogLimits{5000, hours(90 * 24)}},
      {" log-max-age = 48h \r\n", EventLogLimits{1'000'000, hours(48)}},
      {"log-max-age = none\n", EventLogLimits{}},
      {"log-max-events = 999\n", "e.conf:1: \"999\" is not a number of events from 1000"},
      {"\nlog-max-age = 3w\n",
       "e.conf:2: \"3w\" is not an age in hours or days (48h, 90d) or none"},
      {"max_events = 5000\n",
       "e.conf:1: no setting is called \"max_events\" (log-max-events, log-max-age)"},
      {"log-max-events\n", "e.conf:1: not a \"key = value\" line"},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_log_limits(c.text, "e.conf"), c.read) << c.text;
}

}  // namespace
