// Several programs writing the one log at once, and writers killed mid-write: every
// event of a writer that finished is there, in its order, and a kill never leaves a
// database that cannot be opened and read.
#include <gtest/gtest.h>
#include <signal.h>

#include <map>
#include <memory>
#include <vector>

#include "event_log/event_log.h"
#include "log_folder.h"
#include "logged_process.h"

namespace {

class Writers : public ::testing::Test {
 protected:
  std::string database() const { return (folder.path / "events.db").string(); }
  std::unique_ptr<LoggedProcess> writer(const std::string& source, int count) {
    return std::make_unique<LoggedProcess>(
        EVENT_LOG_WRITER, std::vector<std::string>{database(), source, std::to_string(count)},
        (folder.path / (source + ".out")).string());
  }
  // Each source's events in the order read, by the index the writer gave them.
  std::map<std::string, std::vector<long>> read_back() const {
    std::map<std::string, std::vector<long>> by_source;
    const auto why = read_events(
        database(), {}, [&](const Event& e) { by_source[e.source].push_back(std::stol(e.who)); });
    EXPECT_FALSE(why) << *why;
    return by_source;
  }
  LogFolder folder;
};

TEST_F(Writers, ThreeProgramsAtOnceLoseNothing) {
  constexpr int count = 400;
  std::vector<std::unique_ptr<LoggedProcess>> writers;
  for (const char* source : {"panel", "relayctl", "mqtt"}) writers.push_back(writer(source, count));
  for (auto& w : writers) ASSERT_EQ(w->wait_exit(std::chrono::seconds(60)), 0) << w->log();
  const auto by_source = read_back();
  ASSERT_EQ(by_source.size(), 3u);
  for (const auto& [source, indices] : by_source) {
    ASSERT_EQ(indices.size(), std::size_t{count}) << source;
    for (int i = 0; i < count; ++i) ASSERT_EQ(indices[i], i) << source;
  }
}

TEST_F(Writers, AKillMidWriteLeavesALogThatOpensAndReads) {
  std::size_t before = 0;
  for (int kill = 1; kill <= 100; ++kill) {
    auto w = writer("killed" + std::to_string(kill), 0);
    ASSERT_TRUE(w->wait_for_log("appended")) << w->log();
    w->signal(SIGKILL);
    w->wait_exit(std::chrono::seconds(10));
    std::size_t events = 0;
    ASSERT_FALSE(read_events(database(), {}, [&](const Event&) { ++events; })) << "kill " << kill;
    ASSERT_GE(events, before + 50) << "kill " << kill;
    before = events;
    // And it takes appends again, as the next program to start would.
    auto opened = EventLog::open(database());
    ASSERT_EQ(opened.index(), 0u) << "kill " << kill << ": " << std::get<std::string>(opened);
  }
}

}  // namespace
