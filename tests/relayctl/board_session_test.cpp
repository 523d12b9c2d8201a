// relayctl's exchanges on the line engine, against the virtual board's model behind a
// line in memory that can lose answers, with a clock that moves only when relayctl waits.
#include "board_session.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <set>

#include "board_model.h"
#include "link_rig.h"

namespace {

using std::chrono::milliseconds;

// The board answers each frame `late` after it, at once by default, unless the test
// has it lose the answer to a given frame (the board still carries the command out).
class BoardLine : public FakeSerialPort {
 public:
  void write(std::span<const std::uint8_t> bytes) override {
    FakeSerialPort::write(bytes);
    written_ms.push_back((now - EventWait::Clock::time_point{}) / milliseconds(1));
    CommandFrame frame;
    std::copy(bytes.begin(), bytes.end(), frame.bytes.begin());
    const StatusFrame answer = model.handle(frame);
    // One answer after the other, as on a serial line.
    auto due = now + (late.contains(writes.size()) ? late.at(writes.size()) : all_late);
    if (!on_the_line.empty()) due = std::max(due, on_the_line.back().first);
    if (!lose.contains(writes.size())) on_the_line.push_back({due, answer});
  }
  // Puts the answers due by now into the input buffer, one receive event each.
  void deliver() {
    while (!on_the_line.empty() && on_the_line.front().first <= now) {
      const auto bytes = on_the_line.front().second.bytes;
      on_the_line.pop_front();
      receive({bytes.begin(), bytes.end()});
    }
  }
  BoardModel model{1};
  std::set<std::size_t> lose;                // 1-based numbers of the frames whose answer is lost
  std::map<std::size_t, milliseconds> late;  // how late the answer to a given frame comes
  milliseconds all_late{0};                  // how late every other answer comes
  std::deque<std::pair<EventWait::Clock::time_point, StatusFrame>> on_the_line;
  EventWait::Clock::time_point now{};
  std::vector<long> written_ms;
};

// Nothing runs while waiting but the board's answers, each at its time. The clock
// jumps from one answer to the next, and to the deadline of a wait that is not met.
class InstantWait : public EventWait {
 public:
  explicit InstantWait(BoardLine& line) : line_(line) {}
  bool wait_until(const std::function<bool()>& done, Clock::time_point deadline) override {
    line_.deliver();
    while (!done()) {
      if (line_.on_the_line.empty() || line_.on_the_line.front().first > deadline) {
        line_.now = std::max(line_.now, deadline);
        return done();
      }
      line_.now = std::max(line_.now, line_.on_the_line.front().first);
      line_.deliver();
    }
    return true;
  }
  Clock::time_point now() const override { return line_.now; }

 private:
  BoardLine& line_;
};

struct SessionRig {
  SessionRig() {
    port.open();
    port.set_receive_threshold(8);
  }
  std::vector<std::string> take_writes() { return take_written_frames(port); }
  BoardLine port;
  InstantWait wait{port};
  LineDriver line{port, wait, {}};
  BoardSession session{line, 1, milliseconds(200)};
};

const std::string query = "55 01 10 00 00 00 00 66";

TEST(BoardSession, AQueryIsTriedThreeTimesAndNoMore) {
  struct Row {
    std::set<std::size_t> lost;
    bool answered;
    std::size_t queries;
  };
  for (const Row& row : {Row{{}, true, 1}, Row{{1, 2}, true, 3}, Row{{1, 2, 3}, false, 3}}) {
    SCOPED_TRACE(row.queries);
    SessionRig rig;
    rig.port.lose = row.lost;
    const auto start = rig.port.now;
    EXPECT_EQ(rig.session.read_states().has_value(), row.answered);
    EXPECT_EQ(rig.take_writes(), std::vector<std::string>(row.queries, query));
    // Each lost answer cost the time it could still have come in: three timeouts.
    EXPECT_EQ(rig.port.now - start, milliseconds(600) * static_cast<int>(row.lost.size()));
  }
}

TEST(BoardSession, ASwitchWhoseAnswerIsLostGoesOutOnceAndTheVerifyingQueryDecides) {
  SessionRig rig;
  rig.port.lose = {2};  // the answer to the switch
  const Outcome outcome = rig.session.drive(relay_bit(9), true);
  EXPECT_EQ(outcome.code, ExitCode::Done) << outcome.message;
  EXPECT_EQ(rig.take_writes(), (std::vector<std::string>{query, "55 01 12 00 00 00 09 71", query}));
  EXPECT_EQ(rig.port.model.opened_mask(), relay_bit(9));
}

TEST(BoardSession, ABoardFallingSilentAfterItsFirstAnswerIsNoAnswerWithEachSwitchSentOnce) {
  SessionRig rig;
  rig.port.lose = {2, 3, 4, 5, 6};
  const Outcome outcome = rig.session.drive(relay_bit(1) | relay_bit(2), true);
  EXPECT_EQ(outcome.code, ExitCode::NoAnswer);
  EXPECT_EQ(rig.take_writes(),
            (std::vector<std::string>{query, "55 01 12 00 00 00 01 69", "55 01 12 00 00 00 02 6A",
                                      query, query, query}));
}

// Answers name no request: one that comes after its timeout must never be taken for
// the answer to a later request, here or in the next program on the port.
TEST(BoardSession, ALateAnswerIsWaitedForNeverTakenForALaterOneAndALateBoardIsExitThree) {
  const std::string open2 = "55 01 12 00 00 00 02 6A", close2 = "55 01 11 00 00 00 02 69";
  struct Row {
    int late_ms;
    std::size_t late_frame;  // 0: every answer comes late
    bool open;
    int enough_ms;  // the --timeout that the message suggests; 0: done
    std::vector<std::string> frames;
    std::vector<long> written_ms;
  };
  const Row rows[] = {
      {450, 0, true, 700, {query, query, query}, {0, 450, 900}},
      {250, 0, false, 400, {query, query, query}, {0, 250, 500}},
      {300, 1, true, 0, {query, query, open2, query}, {0, 300, 300, 300}},
      {450, 2, false, 0, {query, close2, query}, {0, 0, 450}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.late_ms + row.late_frame);
    SessionRig rig;
    if (!row.open) rig.port.model.handle(CommandFrame::build(1, BoardCommand::SetAllRelays, 0, 2));
    (row.late_frame == 0 ? rig.port.all_late : rig.port.late[row.late_frame]) =
        milliseconds(row.late_ms);
    const Outcome outcome = rig.session.drive(relay_bit(2), row.open);
    EXPECT_EQ(outcome.code, row.enough_ms == 0 ? ExitCode::Done : ExitCode::NoAnswer);
    EXPECT_EQ(outcome.message, row.enough_ms == 0
                                   ? ""
                                   : "the board answered late: " + std::to_string(row.late_ms) +
                                         " ms after the request, beyond the --timeout of 200 ms "
                                         "(try --timeout " +
                                         std::to_string(row.enough_ms) + ")");
    EXPECT_EQ(rig.take_writes(), row.frames);
    EXPECT_EQ(rig.port.written_ms, row.written_ms);
    // Nothing is left on its way to whoever opens the port next.
    EXPECT_TRUE(rig.port.on_the_line.empty());
  }
}

TEST(BoardSession, APulseSwitchesBackOnlyOnceItsHoldHasPassedSinceTheFirstSwitch) {
  SessionRig rig;
  const Outcome outcome = rig.session.pulse(relay_bit(3) | relay_bit(4), milliseconds(750), false);
  EXPECT_EQ(outcome.code, ExitCode::Done) << outcome.message;
  EXPECT_EQ(rig.take_writes(), (std::vector<std::string>{
                                   query, "55 01 12 00 00 00 03 6B", "55 01 12 00 00 00 04 6C",
                                   "55 01 11 00 00 00 03 6A", "55 01 11 00 00 00 04 6B", query}));
  ASSERT_EQ(rig.port.written_ms.size(), 6u);
  EXPECT_EQ(rig.port.written_ms[3] - rig.port.written_ms[1], 750);
  EXPECT_EQ(rig.port.model.opened_mask(), 0);
}

}  // namespace
