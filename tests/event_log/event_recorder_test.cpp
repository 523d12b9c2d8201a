// What the recorder makes of commands, reports and silences: each change credited to
// whoever asked for it, or to the board.
#include "event_log/event_recorder.h"

#include <gtest/gtest.h>

#include <vector>

#include "event_log/event_text.h"

namespace {

struct Events : EventSink {
  void record(const Event& event) override { lines.push_back(event_line(event).substr(24)); }
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

  EXPECT_EQ(events.lines, (std::vector<std::string>{
                              "ttyUSB0 board 1 relay 2 opened (was closed) by mqtt kitchen",
                              "ttyUSB0 board 1 relay 2 closed (was opened) by board",
                              "ttyUSB0 board 1 relay 2 refused: relay 2 is interlocked from panel",
                              "ttyUSB0 board 3 missed: paused from schedule lights",
                              "ttyUSB0 board 1 relay 1 closed (was opened) by rule max_on "
                              "(on for 30s)",
                              "ttyUSB0 board 1 relay 3 opened (was closed) by board",
                              "ttyUSB0 board 1 lost by board",
                              "ttyUSB0 board 1 back by board",
                          }));
}

}  // namespace
