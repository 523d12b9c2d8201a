// relayctl log reading the event log of its state folder (the folder it is installed in
// here), as a script would: filtered, in each format, and no events before the first.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "event_log/event_log.h"
#include "relayctl_rig.h"
#include "time_zone.h"

namespace {

using RelayctlLog = RelayctlRig;

TEST_F(RelayctlLog, PrintsTheEventsAskedForInEachFormat) {
  const TimeZoneScope utc("UTC");  // relayctl inherits it: its lines are in local time
  const auto at = [](std::int64_t ms) { return Event::Time(std::chrono::milliseconds(ms)); };
  {
    const CtlResult none = run({"log"});  // nothing switched yet: no events, no error
    EXPECT_EQ(none.code, 0);
    EXPECT_EQ(none.out + none.err, "");
    auto opened = EventLog::open(dir() / "events.db");
    ASSERT_EQ(opened.index(), 0u) << std::get<std::string>(opened);
    EventLog& log = *std::get<0>(opened);
    Event e;
    e.line = "ttyUSB0";
    e.address = 1;
    e.relay = 7;
    e.at = at(1796699525120);  // 2026-12-08 03:12:05.120 UTC
    e.was_on = false;
    e.now_on = true;
    e.source = "mqtt";
    e.who = "kitchen";
    ASSERT_FALSE(log.append(e));
    e.relay = 8;
    ASSERT_FALSE(log.append(e));
    e.at = at(1796613125000);  // a day earlier, written later
    e.relay = 7;
    e.now_on = false;
    e.was_on = true;
    e.source = "panel";
    e.who = "";
    ASSERT_FALSE(log.append(e));
  }
  const struct {
    QStringList arguments;
    std::string out;
  } runs[] = {
      {{"log", "--relay", "1/7"},
       "2026-12-07T03:12:05.000+00:00 ttyUSB0 board 1 relay 7 closed (was opened) by panel\n"
       "2026-12-08T03:12:05.120+00:00 ttyUSB0 board 1 relay 7 opened (was closed) by mqtt "
       "kitchen\n"},
      {{"log", "--since", "2026-12-08", "--csv"},
       "time,event,line,address,relay,was,now,source,who,reason\n"
       "2026-12-08T03:12:05.120Z,switched,ttyUSB0,1,7,closed,opened,mqtt,kitchen,\n"
       "2026-12-08T03:12:05.120Z,switched,ttyUSB0,1,8,closed,opened,mqtt,kitchen,\n"},
      {{"log", "--relay", "2"}, ""},
  };
  for (const auto& row : runs) {
    const CtlResult result = run(row.arguments);
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, row.out) << row.arguments.join(' ').toStdString();
  }
  const CtlResult wrong = run({"log", "--since", "soon"});
  EXPECT_EQ(wrong.code, 1);
  EXPECT_NE(wrong.err.find("--since takes today, yesterday"), std::string::npos) << wrong.err;
}

}  // namespace
