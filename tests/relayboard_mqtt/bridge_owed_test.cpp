// What the bridge owes its boards survives its death: killed with SIGKILL during a pulse
// or while a relay is held under max_on, the next start ends what is due at the board's
// first answer and counts the rest from when the relay really went on.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge_rig.h"

namespace {

using namespace std::chrono;

class BridgeOwed : public BridgeRig {
 protected:
  BridgeOwed() : BridgeRig({"--times"}) {}

  std::string owed_text() const {
    std::ifstream in(dir() + "/owed-com1.txt", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  // The last number of the owed file's line that starts with `start`: a relay's on-since,
  // a pulse's due end.
  std::optional<system_clock::time_point> owed_time(const std::string& start) const {
    std::istringstream in(owed_text());
    for (std::string line; std::getline(in, line);) {
      if (line.starts_with(start))
        return system_clock::time_point(milliseconds(std::stoll(line.substr(line.rfind(' ')))));
    }
    return std::nullopt;
  }
  // The frames the board received after the first `skip`, with the board's milliseconds.
  std::vector<std::pair<std::string, double>> received(std::size_t skip = 0) const {
    std::vector<std::pair<std::string, double>> frames;
    std::istringstream log(board->log());
    for (std::string line; std::getline(log, line);) {
      const auto from = line.find("<- ");
      const auto at = line.find(" at ");
      if (from == std::string::npos || at == std::string::npos || (skip > 0 && skip--)) continue;
      frames.emplace_back(line.substr(from + 3, at - from - 3), std::stod(line.substr(at + 4)));
    }
    return frames;
  }
};

constexpr auto on_5 = "55 01 12 00 00 00 05 6D", off_5 = "55 01 11 00 00 00 05 6C";

// Each case kills the bridge once the file holds the debt, keeps it down until `back`
// after the time the file names, and starts it again: what is due goes right after the
// first poll, the rest when it is due by the board's own clock.
TEST_F(BridgeOwed, ARestartAfterSigkillEndsWhatWasOwedOnTime) {
  std::ofstream(dir() + "/rules.conf") << "[address 1]\nmax_on = 5: 3s\n";
  const struct {
    const char* label;
    const char* command;  // the topic under 1/5/, and its payload
    const char* payload;
    const char* owed;
    milliseconds back;
    double held;  // from the ON to the OFF; 0: at the first answer
  } cases[] = {
      {"pulse past its end", "pulse", "1s", "pulse = 1 5 off ", 300ms, 0},
      {"pulse not due", "pulse", "2s", "pulse = 1 5 off ", -1200ms, 2000},
      {"max_on past", "set", "ON", "on = 1 5 ", 3300ms, 0},
      {"max_on not yet", "set", "ON", "on = 1 5 ", 1500ms, 3000},
  };
  auto bridge = start_bridge_online();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::size_t start = received().size();
    const int ons = board->log_count(on_5);
    ASSERT_TRUE(watcher->publish(topic(std::string("1/5/") + c.command), c.payload));
    ASSERT_TRUE(board->wait_for_log(on_5, ons + 1));
    ASSERT_TRUE(eventually([&] { return owed_time(c.owed).has_value(); })) << owed_text();
    const int offs = board->log_count(off_5);
    bridge->kill();
    // The outage itself: the time the bridge is away is what the case is about.
    std::this_thread::sleep_until(*owed_time(c.owed) + c.back);
    const std::size_t restart = received().size();
    watcher->clear();
    bridge = start_bridge();
    ASSERT_TRUE(watcher->wait_for_payload(topic("status"), "online")) << bridge->log();
    ASSERT_TRUE(board->wait_for_log(off_5, offs + 1)) << bridge->log();
    const auto after = received(restart);
    if (c.held == 0) {
      ASSERT_GE(after.size(), 2u);
      EXPECT_EQ(after[0].first, "55 01 10 00 00 00 00 66");
      EXPECT_EQ(after[1].first, off_5);
    } else {
      const auto frames = received(start);
      const auto on =
          std::find_if(frames.begin(), frames.end(), [](const auto& f) { return f.first == on_5; });
      const auto off =
          std::find_if(after.begin(), after.end(), [](const auto& f) { return f.first == off_5; });
      ASSERT_NE(on, frames.end());
      ASSERT_NE(off, after.end());
      // Counted afresh it would be held for the outage and its whole length again.
      EXPECT_GE(off->second - on->second, c.held - 50);
      EXPECT_LT(off->second - on->second, c.held + 800);
    }
    // Confirmed off: nothing is owed any more.
    EXPECT_TRUE(eventually([&] { return owed_text().find('\n') == owed_text().size() - 1; }))
        << owed_text();
  }
  EXPECT_EQ(owed_text(), "# what the line's owner owes its boards: rewritten as it changes\n");
}

// A stop that cannot see a pulse's end confirmed (the cable cut) says so and leaves the
// end owed: the next start sends it at the board's first answer.
TEST_F(BridgeOwed, AStopThatCannotConfirmAPulsesEndLeavesItOwed) {
  auto bridge = start_bridge_online();
  ASSERT_TRUE(watcher->publish(topic("1/5/pulse"), "20s"));
  ASSERT_TRUE(board->wait_for_log(on_5));
  ASSERT_TRUE(eventually([&] { return owed_time("pulse = 1 5 off ").has_value(); }));
  cut_cable(true);
  bridge->signal(SIGTERM);
  EXPECT_EQ(bridge->wait_exit(), 0);
  EXPECT_EQ(bridge->log_count("board 1 relay 5 may be left on"), 1) << bridge->log();
  EXPECT_TRUE(owed_time("pulse = 1 5 off ").has_value()) << owed_text();
  cut_cable(false);
  const std::size_t restart = received().size();
  bridge = start_bridge();
  ASSERT_TRUE(eventually([&] { return received(restart).size() >= 2; })) << bridge->log();
  EXPECT_EQ(received(restart)[1].first, off_5);
}

}  // namespace
