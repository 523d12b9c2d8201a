// The event log on a real database: what goes in comes out, filtered, and no more than
// the limits keep.
#include "event_log/event_log.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
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
  // The web page's list: the newest of one line, oldest first.
  Event elsewhere = event(5000, Event::Kind::switched, 1, 3);
  elsewhere.line = "ttyS1";
  ASSERT_FALSE(open()->append(elsewhere));
  const auto newest = read_newest_events(path(), "ttyUSB0", 2);
  ASSERT_EQ(newest.index(), 0u) << std::get<std::string>(newest);
  EXPECT_EQ(std::get<0>(newest), (std::vector<Event>{lost, other}));
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

// The state folder may be shared: a log that another user planted, may write, or filled
// with SQL of their own (a trigger runs at every append, a slow one holds the line) is
// refused by the programs that write and by relayctl log, and a FIFO is not waited on.
TEST_F(EventLogFile, AHostileFileInItsPlaceIsRefusedAtOnceByWritersAndReaders) {
  const std::string not_used = path().string() + ": not used: ";
  const auto with_sql = [this](const char* sql) {
    return [this, sql] {
      open();
      sqlite3* database = nullptr;
      ASSERT_EQ(sqlite3_open(path().c_str(), &database), SQLITE_OK);
      EXPECT_EQ(sqlite3_exec(database, sql, nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_close(database);
    };
  };
  const struct {
    std::string label;
    std::function<void()> plant;
    std::string reason;
    bool needs_root;
  } cases[] = {
      {"a FIFO", [this] { ::mkfifo(path().c_str(), 0600); }, not_used + "it is a FIFO, not a file",
       false},
      {"a trigger", with_sql("CREATE TRIGGER slow AFTER INSERT ON events BEGIN SELECT 1; END;"),
       not_used + "it holds a trigger (slow) that no program of this panel makes", false},
      {"a view", with_sql("CREATE VIEW seen AS SELECT * FROM events;"),
       not_used + "it holds a view (seen) that no program of this panel makes", false},
      {"a log every user may write", [this] { open(), ::chmod(path().c_str(), 0666); },
       not_used + "every user may write it", false},
      {"another user's log", [this] { open(), ::chown(path().c_str(), 65534, 65534); },
       not_used + "it belongs to another user, who may have put it there", true},
      {"another user's write-ahead log",
       [this] {
         open();
         std::ofstream(path().string() + "-wal") << "";
         ::chown((path().string() + "-wal").c_str(), 65534, 65534);
       },
       path().string() + "-wal: not used: it belongs to another user, who may have put it there",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.needs_root && ::geteuid() != 0) continue;
    for (const char* file : {"", "-wal", "-shm"}) std::filesystem::remove(path().string() + file);
    c.plant();
    const auto opened = EventLog::open(path(), {});
    ASSERT_EQ(opened.index(), 1u);
    EXPECT_EQ(std::get<1>(opened), c.reason);
    EXPECT_EQ(read_events(path(), {}, [](const Event&) { ADD_FAILURE(); }), c.reason);
  }
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
      {" log-max-age = 48h   # two days\r\n", EventLogLimits{1'000'000, hours(48)}},
      {"log-max-age = none\n", EventLogLimits{}},
      {"log-max-events = 999\n", "e.conf:1: \"999\" is not a number of events from 1000"},
      {"\nlog-max-age = 3w\n",
       "e.conf:2: \"3w\" is not an age in hours or days (48h, 90d) or none"},
      {"max_events = 5000\n",
       "e.conf:1: no setting is called \"max_events\" (log-max-events, log-max-age)"},
      {"log-max-events\n", "e.conf:1: not a \"key = value\" line"},
      {"log-max-age = 2d\nlog-max-age = 3d\n", "e.conf:2: log-max-age: already set on line 1"},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_log_limits(c.text, "e.conf"), c.read) << c.text;
}

}  // namespace
