// What the bridge owes its boards survives its death: killed with SIGKILL during a pulse
// or while a relay is held under max_on, the next start ends what is due at the board's
// first answer and counts the rest from when the relay really went on.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge_rig.h"

namespace {

using namespace std::chrono;
using Frames = std::vector<std::string>;

class BridgeOwed : public BridgeRig {
 protected:
  BridgeOwed() : BridgeRig({"--times"}) {}

  std::string owed_file() const { return dir() + "/owed-com1.txt"; }
  // The last number of the owed file's line that starts with `start`: a relay's on-since,
  // a pulse's due end.
  std::optional<system_clock::time_point> owed_time(const std::string& start) const {
    std::ifstream in(owed_file());
    for (std::string line; std::getline(in, line);) {
      if (!line.starts_with(start)) continue;
      return system_clock::time_point(milliseconds(std::stoll(line.substr(line.rfind(' ')))));
    }
    return std::nullopt;
  }
  system_clock::time_point wait_owed(const std::string& start) const {
    EXPECT_TRUE(eventually([&] { return owed_time(start).has_value(); }));
    return owed_time(start).value_or(system_clock::now());
  }
  // The frames the board received, after the first `skip`, and when (board milliseconds).
  std::vector<std::pair<std::string, double>> received(std::size_t skip = 0) const {
    std::vector<std::pair<std::string, double>> frames;
    std::istringstream log(board->log());
    for (std::string line; std::getline(log, line);) {
      const auto from = line.find("<- ");
      const auto at = line.find(" at ");
      if (from == std::string::npos || at == std::string::npos) continue;
      if (skip > 0 && skip--) continue;
      frames.emplace_back(line.substr(from + 3, at - from - 3), std::stod(line.substr(at + 4)));
    }
    return frames;
  }
  // Kills the bridge, keeps it down until `back`, starts it again; the frames received
  // before the restart.
  std::size_t kill_and_restart(std::unique_ptr<LoggedProcess>& bridge,
                               system_clock::time_point back) {
    const int offs = board->log_count("<- 55 01 11 00 00 00 05 6C");
    bridge->kill();
    // The outage itself: the time the bridge is away is what the case is about.
    std::this_thread::sleep_until(back);
    const std::size_t before = received().size();
    watcher->clear();
    bridge = start_bridge();
    // Serving again: its commands are heard from now on.
    EXPECT_TRUE(watcher->wait_for_payload(topic("status"), "online")) << bridge->log();
    EXPECT_TRUE(eventually([&] { return board->log_count("<- 55 01 11 00 00 00 05 6C") > offs; }))
        << bridge->log();
    return before;
  }
  static constexpr auto comment =
      "# what the line's owner owes its boards: rewritten as it changes\n";
  std::string owed_text() const {
    std::ifstream in(owed_file(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
};

// Frames after the restart: the poll whose answer shows the relay on, then its OFF.
const Frames first_answer{"55 01 10 00 00 00 00 66", "55 01 11 00 00 00 05 6C"};

Frames names(const std::vector<std::pair<std::string, double>>& frames, std::size_t count) {
  Frames out;
  for (std::size_t i = 0; i < std::min(count, frames.size()); ++i) out.push_back(frames[i].first);
  return out;
}

TEST_F(BridgeOwed, APulsePastItsEndEndsAtTheFirstAnswerAfterARestart) {
  auto bridge = start_bridge_online();
  ASSERT_TRUE(watcher->publish(topic("1/5/pulse"), "1s"));
  ASSERT_TRUE(board->wait_for_log("<- 55 01 12 00 00 00 05 6D"));
  const auto due = wait_owed("pulse = 1 5 off ");
  const auto before = kill_and_restart(bridge, due + 300ms);
  EXPECT_EQ(names(received(before), 2), first_answer) << board->log();
  // Ended and confirmed: nothing is owed any more.
  EXPECT_TRUE(eventually([&] { return owed_text() == comment; })) << owed_text();
  bridge->signal(SIGTERM);
  EXPECT_EQ(bridge->wait_exit(), 0) << bridge->log();
}

TEST_F(BridgeOwed, APulseNotDueRunsToItsOwnEndAfterARestart) {
  auto bridge = start_bridge_online();
  ASSERT_TRUE(watcher->publish(topic("1/5/pulse"), "2500ms"));
  ASSERT_TRUE(board->wait_for_log("<- 55 01 12 00 00 00 05 6D"));
  const auto due = wait_owed("pulse = 1 5 off ");
  const auto before = kill_and_restart(bridge, due - 1500ms);
  const auto frames = received();
  const auto on = std::find_if(frames.begin(), frames.end(),
                               [](const auto& f) { return f.first == "55 01 12 00 00 00 05 6D"; });
  const auto off = std::find_if(frames.begin() + static_cast<long>(before), frames.end(),
                                [](const auto& f) { return f.first == first_answer[1]; });
  ASSERT_NE(on, frames.end());
  ASSERT_NE(off, frames.end());
  // Held for its length, not the outage and its length again.
  EXPECT_GE(off->second - on->second, 2450);
  EXPECT_LT(off->second - on->second, 3300);
}

// A relay past its max_on goes off at the first answer; one not yet past counts from
// when it went on.
TEST_F(BridgeOwed, MaxOnCountsFromTheRealSwitchOnAcrossARestart) {
  std::ofstream(dir() + "/rules.conf") << "[address 1]\nmax_on = 5: 2s\n";
  const struct {
    const char* label;
    milliseconds outage;  // from the switch-on
    bool at_first_answer;
  } cases[] = {{"past its max_on", 2300ms, true}, {"within its max_on", 1000ms, false}};
  auto bridge = start_bridge_online();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::size_t start = received().size();
    ASSERT_TRUE(watcher->publish(topic("1/5/set"), "ON"));
    const auto since = wait_owed("on = 1 5 ");
    const auto before = kill_and_restart(bridge, since + c.outage);
    const auto frames = received(start);
    const auto on = std::find_if(frames.begin(), frames.end(), [](const auto& f) {
      return f.first == "55 01 12 00 00 00 05 6D";
    });
    ASSERT_NE(on, frames.end());
    if (c.at_first_answer) {
      EXPECT_EQ(names(received(before), 2), first_answer) << board->log();
    } else {
      const auto off = received(before);
      const auto found = std::find_if(off.begin(), off.end(),
                                      [](const auto& f) { return f.first == first_answer[1]; });
      ASSERT_NE(found, off.end());
      // Counted afresh it would stay on for the outage and 2 s more.
      EXPECT_GE(found->second - on->second, 1950);
      EXPECT_LT(found->second - on->second, 2800);
    }
    EXPECT_TRUE(eventually([&] { return owed_text() == comment; })) << owed_text();
  }
}

}  // namespace
