// relayctl's exchanges on the core, against the virtual board's model behind a line in
// memory that can lose answers, with a clock that moves only when relayctl waits.
#include "board_session.h"

#include <gtest/gtest.h>

#include <set>

#include "board_model.h"
#include "link_rig.h"

namespace {

using std::chrono::milliseconds;

// The board answers within the write, as a line without delay would, unless the test
// has it lose the answer to a given frame (the board still carries the command out).
class BoardLine : public FakeSerialPort {
 public:
  void write(std::span<const std::uint8_t> bytes) override {
    FakeSerialPort::write(bytes);
    written_at.push_back(now);
    CommandFrame frame;
    std::copy(bytes.begin(), bytes.end(), frame.bytes.begin());
    const StatusFrame answer = model.handle(frame);
    const bool lost = lose.contains(writes.size());
    if (!lost) receive(std::vector<std::uint8_t>(answer.bytes.begin(), answer.bytes.end()));
  }
  BoardModel model{1};
  std::set<std::size_t> lose;  // 1-based numbers of the frames whose answer is lost
  EventWait::Clock::time_point now{};
  std::vector<EventWait::Clock::time_point> written_at;
};

// Nothing runs while waiting: an answer has come within the write or not at all. The
// clock jumps to the deadline of a wait that is not met.
class InstantWait : public EventWait {
 public:
  explicit InstantWait(BoardLine& line) : line_(line) {}
  bool wait_until(const std::function<bool()>& done, Clock::time_point deadline) override {
    if (done()) return true;
    line_.now = std::max(line_.now, deadline);
    return done();
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
  std::vector<std::string> frames() { return take_written_frames(port); }
  BoardLine port;
  FakeIndicators indicators;
  FixedAddress address;
  FakePortView view;
  FakeNameLabels names;
  RecordingMessageBoxes messages;
  PanelCore core{{port, indicators, view, address, names, messages}, "name.txt"};
  InstantWait wait{port};
  BoardSession session{core, wait, milliseconds(200)};
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
    EXPECT_EQ(rig.frames(), std::vector<std::string>(row.queries, query));
    // Each lost answer cost one timeout.
    EXPECT_EQ(rig.port.now - start, milliseconds(200) * static_cast<int>(row.lost.size()));
  }
}

TEST(BoardSession, ASwitchWhoseAnswerIsLostGoesOutOnceAndTheVerifyingQueryDecides) {
  SessionRig rig;
  rig.port.lose = {2};  // the answer to the switch
  const Outcome outcome = rig.session.drive(relay_bit(9), true);
  EXPECT_EQ(outcome.code, ExitCode::Done) << outcome.message;
  EXPECT_EQ(rig.frames(), (std::vector<std::string>{query, "55 01 12 00 00 00 09 71", query}));
  EXPECT_EQ(rig.port.model.opened_mask(), relay_bit(9));
}

TEST(BoardSession, ABoardFallingSilentAfterItsFirstAnswerIsNoAnswerWithEachSwitchSentOnce) {
  SessionRig rig;
  rig.port.lose = {2, 3, 4, 5, 6};
  const Outcome outcome = rig.session.drive(relay_bit(1) | relay_bit(2), true);
  EXPECT_EQ(outcome.code, ExitCode::NoAnswer);
  EXPECT_EQ(rig.frames(),
            (std::vector<std::string>{query, "55 01 12 00 00 00 01 69", "55 01 12 00 00 00 02 6A",
                                      query, query, query}));
}

TEST(BoardSession, APulseSwitchesBackOnlyOnceItsHoldHasPassedSinceTheFirstSwitch) {
  SessionRig rig;
  const Outcome outcome = rig.session.pulse(relay_bit(3) | relay_bit(4), milliseconds(750), false);
  EXPECT_EQ(outcome.code, ExitCode::Done) << outcome.message;
  EXPECT_EQ(rig.frames(), (std::vector<std::string>{
                              query, "55 01 12 00 00 00 03 6B", "55 01 12 00 00 00 04 6C",
                              "55 01 11 00 00 00 03 6A", "55 01 11 00 00 00 04 6B", query}));
  ASSERT_EQ(rig.port.written_at.size(), 6u);
  EXPECT_EQ(rig.port.written_at[3] - rig.port.written_at[1], milliseconds(750));
  EXPECT_EQ(rig.port.model.opened_mask(), 0);
}

}  // namespace
