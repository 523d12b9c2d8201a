// What the recorder makes of commands, reports and silences: each change credited to
// whoever asked for it, or to the board.
#include "event_log/event_recorder.h"

#include <gtest/gtest.h>

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
  recorder.reported(1, 0x0000, later(40));
  recorder.commanded(1, 0x0004, {"relayctl", "", ""}, later(10));
  recorder.reported(1, 0x0004, later(6000));  // too late to be credited
  recorder.lost(1, later(100));
  recorder.lost(1, later(100));              // once
  recorder.reported(1, 0x0000, later(100));  // back; its states were unknown meanwhile

  EXPECT_EQ(events.lines, (std::vector<std::string>{
                              "ttyUSB0 board 1 relay 2 opened (was closed) by mqtt kitchen",
                              "ttyUSB0 board 1 relay 2 closed (was opened) by board",
                              "ttyUSB0 board 1 relay 2 refused: relay 2 is interlocked from panel",
                              "ttyUSB0 board 1 relay 1 closed (was opened) by rule max_on "
                              "(on for 30s)",
                              "ttyUSB0 board 1 relay 3 opened (was closed) by board",
                              "ttyUSB0 board 1 lost by board",
                              "ttyUSB0 board 1 back by board",
                          }));
}

// What a line really carries for one relay: commands given faster than it goes round
// (a waiting switch replaced by the next, an answer still on its way when the next
// command comes), a pulse's end, a command that finds the relay as it asks, and changes
// at the board. Steps: "<source> on|off" a command, "pulse off" a pulse's end, "rule" a
// rule's switch either way, "= on|off" a report of relay 1, "+N" N ms later.
TEST(EventRecorder, EachChangeIsCreditedToTheCommandThatMadeIt) {
  const struct {
    const char* label;
    std::vector<std::string> steps;
    std::vector<std::string> sources;  // of the rows of relay 1, in order
  } cases[] = {
      {"a flood: the answer to ON comes after OFF was given",
       {"= off", "mqtt on", "mqtt off", "= on", "= off", "mqtt on", "= on", "mqtt off", "mqtt on",
        "mqtt off", "= off", "= on", "= off"},
       {"mqtt", "mqtt", "mqtt", "mqtt", "mqtt", "mqtt"}},
      {"a flood: a waiting OFF replaced by ON, then a poll",
       {"= off", "mqtt on", "mqtt off", "mqtt on", "= on", "= on", "mqtt off", "= off"},
       {"mqtt", "mqtt"}},
      {"a pulse and its end",
       {"= off", "relayctl on", "= on", "+900", "pulse off", "= off"},
       {"relayctl", "pulse"}},
      {"nobody asked",
       {"= off", "= on", "mqtt on", "= on", "= off", "rule", "+6000", "= on"},
       {"board", "board", "board"}},
      {"a rule's switch", {"= on", "rule", "= off"}, {"rule"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    struct Sources : EventSink {
      void record(const Event& event) override { list.push_back(event.source); }
      std::vector<std::string> list;
    } rows;
    EventRecorder recorder(rows, "ttyUSB0");
    Event::Time now{std::chrono::hours(1)};
    for (const std::string& step : c.steps) {
      now += std::chrono::milliseconds(20);
      const std::string word = step.substr(0, step.find(' '));
      const bool on = step.ends_with(" on");
      if (step[0] == '+') {
        now += std::chrono::milliseconds(std::stoi(step.substr(1)));
      } else if (word == "=") {
        recorder.reported(1, on ? 0x0001 : 0x0000, now);
      } else if (word == "rule") {
        recorder.commanded(1, 0x0001, {"rule", "max_on", ""}, now);
      } else {
        recorder.commanded(1, 0x0001, on ? 0x0001 : 0x0000, {word, "", ""}, now);
      }
    }
    EXPECT_EQ(rows.list, c.sources);
  }
}

}  // namespace
