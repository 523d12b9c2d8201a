// What the recorder makes of commands, reports and silences: each change credited to
// whoever asked for it, or to the board.
#include "event_log/event_recorder.h"

#include <gtest/gtest.h>

#include <sstream>
#include <utility>
#include <vector>

#include "event_log/event_text.h"

namespace {

struct Events : EventSink {
  void record(const Event& event) override {
    const std::string line = event_line(event);
    lines.push_back(line.substr(line.find(' ') + 1));
  }
  std::vector<std::string> lines;  // without the time
};

TEST(EventRecorder, CreditsEachChangeToItsCommandOrToTheBoard) {
  Events events;
  EventRecorder recorder(events, "ttyUSB0");
  Event::Time now{std::chrono::hours(1)};
  const auto later = [&](int ms) { return now += std::chrono::milliseconds(ms); };

  recorder.reported(1, 0x0001, later(0));  // the first report: nothing was known before
  recorder.commanded(1, 0x0002, {"mqtt", "kitchen", ""}, later(10));
  recorder.reported(1, 0x0001, later(40));  // not yet
  recorder.reported(1, 0x0003, later(50));
  recorder.reported(1, 0x0001, later(50));  // nobody here asked for that
  recorder.commanded(1, 0x0001, {"rule", "max_on", "on for 30s"}, later(10));
  recorder.refused(1, 2, {"panel", "", ""}, "relay 2 is interlocked", later(1));
  recorder.refused(3, 0, {"schedule", "lights", ""}, "paused", later(1), Event::Kind::missed);
  recorder.reported(1, 0x0000, later(40));
  recorder.commanded(1, 0x0004, {"relayctl", "", ""}, later(10));
  recorder.reported(1, 0x0004, later(6000));  // too late to be credited
  recorder.lost(1, later(100));
  recorder.lost(1, later(100));              // once
  recorder.reported(1, 0x0000, later(100));  // back; its states were unknown meanwhile

  EXPECT_EQ(events.lines,
            (std::vector<std::string>{
                "ttyUSB0 board 1 relay 2 opened (was closed) by mqtt kitchen",
                "ttyUSB0 board 1 relay 2 closed (was opened) by board",
                "ttyUSB0 board 1 relay 2 refused: relay 2 is interlocked (asked by panel)",
                "ttyUSB0 board 3 missed: paused (for schedule lights)",
                "ttyUSB0 board 1 relay 1 closed (was opened) by rule max_on "
                "(on for 30s)",
                "ttyUSB0 board 1 relay 3 opened (was closed) by board",
                "ttyUSB0 board 1 lost by board",
                "ttyUSB0 board 1 back by board",
            }));
}

// One relay as a line really carries it: commands faster than it goes round (a waiting
// switch replaced by the next, an answer due when the next command comes), a pulse's
// end, a command that finds the relay as it asks, changes at the board. "mqtt:on" is a
// command, "rule" a rule's switch either way, "=on" a report, "+N" N ms later, "late" a
// line whose reports come whenever its owner's news does.
TEST(EventRecorder, EachChangeIsCreditedToTheCommandThatMadeIt) {
  const std::pair<const char*, const char*> cases[] = {
      {"=off mqtt:on mqtt:off =on =off mqtt:on =on mqtt:off mqtt:on mqtt:off =off =off",
       "mqtt mqtt mqtt mqtt"},
      {"=off mqtt:on mqtt:off mqtt:on =on =on web:off =off", "mqtt web"},
      {"=off relayctl:on =on +900 pulse:off =off", "relayctl pulse"},
      {"=off =on mqtt:on =on =off rule +6000 =on", "board board board"},
      {"=on rule =off", "rule"},
      // A served line's news may lag behind both commands.
      {"late =on panel:off panel:on =on =off =on", "panel panel"},
  };
  for (const auto& [steps, sources] : cases) {
    struct : EventSink {
      void record(const Event& e) override { list += (list.empty() ? "" : " ") + e.source; }
      std::string list;
    } rows;
    EventRecorder recorder(rows, "ttyUSB0");
    Event::Time now{std::chrono::hours(1)};
    std::istringstream in(steps);
    for (std::string step; in >> step; now += std::chrono::milliseconds(20)) {
      const bool on = step.ends_with("on");
      if (step == "late") {
        recorder.set_line("ttyUSB0", EventRecorder::Reports::late);
      } else if (step[0] == '+') {
        now += std::chrono::milliseconds(std::stoi(step.substr(1)));
      } else if (step[0] == '=') {
        recorder.reported(1, on, now);
      } else if (step == "rule") {
        recorder.commanded(1, 1, {"rule", "max_on", ""}, now);
      } else {
        recorder.commanded(1, 1, on, {step.substr(0, step.find(':')), "", ""}, now);
      }
    }
    EXPECT_EQ(rows.list, sources) << steps;
  }
}

}  // namespace
