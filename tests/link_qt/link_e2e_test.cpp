// The panel's link against the virtual board over a pseudo-terminal, paced by the real
// 50 ms timer in a Qt event loop.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QTemporaryDir>
#include <vector>

#include "board_process.h"
#include "event_loop.h"
#include "panel_link.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes status_query = {0x55, 0x01, 0x10, 0x00, 0x00, 0x00, 0x00, 0x66};
const Bytes open_all = {0x55, 0x01, 0x13, 0x00, 0x00, 0xFF, 0xFF, 0x67};
const Bytes switch_opened_5 = {0x55, 0x01, 0x11, 0x00, 0x00, 0x00, 0x05, 0x6C};
const Bytes switch_closed_5 = {0x55, 0x01, 0x12, 0x00, 0x00, 0x00, 0x05, 0x6D};

constexpr int generous_ms = 3000;

class LinkToBoard : public ::testing::Test {
 protected:
  LinkToBoard() { start_qt(); }

  QStringList board_options(const QString& mode = "normal") const {
    return {"--link-dir", dir.path(), "--port", "1", "--mode", mode, "--delay-ms", "120"};
  }
  std::filesystem::path program_dir() const { return dir.path().toStdString(); }
  std::string link_path() const { return (program_dir() / "com1").string(); }

  QTemporaryDir dir;
};

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST_F(LinkToBoard, QueriesAreAnsweredAndRelayCommandsComeBackAsNewStates) {
  BoardProcess board(board_options());
  ASSERT_FALSE(board.device().empty());
  PanelLink panel(program_dir());

  panel.click_open_comm();
  ASSERT_TRUE(panel.messages.shown.empty()) << panel.messages.shown.front().text;
  EXPECT_EQ(panel.caption, "close com");
  // The board starts with every relay closed.
  ASSERT_TRUE(wait_until([&] { return panel.count(IndicatorState::Closed) == 16; }, generous_ms));
  EXPECT_EQ(panel.frames_written().front(), status_query);

  panel.cycle.openall_Click();
  ASSERT_TRUE(wait_until([&] { return panel.count(IndicatorState::Opened) == 16; }, generous_ms));

  panel.cycle.Picture1_Click(5);
  ASSERT_TRUE(wait_until([&] { return panel.indicators.states[4] == IndicatorState::Closed; },
                         generous_ms));
  EXPECT_EQ(panel.count(IndicatorState::Opened), 15);

  panel.cycle.Picture1_Click(5);
  ASSERT_TRUE(wait_until([&] { return panel.indicators.states[4] == IndicatorState::Opened; },
                         generous_ms));

  // Each command went out once, in place of one status query, and polling went on.
  const auto sent = panel.line.writes.size();
  ASSERT_TRUE(wait_until([&] { return panel.line.writes.size() > sent; }, generous_ms));
  const auto frames = panel.frames_written();
  std::vector<Bytes> commands;
  for (const auto& frame : frames) {
    if (frame != status_query) commands.push_back(frame);
  }
  EXPECT_EQ(commands, (std::vector<Bytes>{open_all, switch_opened_5, switch_closed_5}));
  EXPECT_EQ(frames.back(), status_query);
}

TEST_F(LinkToBoard, LateAnswersStillRepaint) {
  BoardProcess board(board_options("late"));
  PanelLink panel(program_dir());
  panel.click_open_comm();
  EXPECT_TRUE(wait_until([&] { return panel.count(IndicatorState::Closed) == 16; }, generous_ms));
}

TEST_F(LinkToBoard, AnswersThatFailTheCheckLeaveTheRelaysUnknown) {
  for (const QString mode : {"silent", "bad-checksum", "stray-byte"}) {
    SCOPED_TRACE(mode.toStdString());
    BoardProcess board(board_options(mode));
    PanelLink panel(program_dir());
    panel.click_open_comm();
    run_events_for(500);

    EXPECT_EQ(panel.count(IndicatorState::Unknown), 16);
    EXPECT_GE(panel.frames_written().size(), 5u);
    for (const auto& [relay, state] : panel.indicators.paints) {
      EXPECT_EQ(state, IndicatorState::Unknown) << "relay " << relay;
    }
    if (mode != "silent") {
      EXPECT_FALSE(panel.received.empty());
    }
  }
}

TEST_F(LinkToBoard, BoardGoneWhileOpenLeavesThePanelIdleAndAReopenBringsItBack) {
  auto board = std::make_unique<BoardProcess>(board_options());
  PanelLink panel(program_dir());
  panel.click_open_comm();
  ASSERT_TRUE(wait_until([&] { return panel.count(IndicatorState::Closed) == 16; }, generous_ms));

  board->kill();
  // The dead line must not keep the program busy while the operator looks at it.
  const double cpu_before = cpu_seconds();
  run_events_for(1000);
  const double cpu_used = cpu_seconds() - cpu_before;
  EXPECT_LT(cpu_used, 0.3) << "the panel spun on the dead line";

  EXPECT_TRUE(panel.port.is_open());
  EXPECT_TRUE(panel.port.device_lost());
  EXPECT_EQ(panel.count(IndicatorState::Unknown), 16);
  EXPECT_EQ(panel.caption, "close com");

  board = std::make_unique<BoardProcess>(board_options());
  panel.click_open_comm();
  EXPECT_EQ(panel.count(IndicatorState::Idle), 16);
  EXPECT_FALSE(panel.timer_running());
  panel.click_open_comm();
  ASSERT_TRUE(panel.messages.shown.empty()) << panel.messages.shown.front().text;
  EXPECT_TRUE(wait_until([&] { return panel.count(IndicatorState::Closed) == 16; }, generous_ms));
  EXPECT_FALSE(panel.port.device_lost());
}

TEST_F(LinkToBoard, ASecondOpenOfAHeldPortFailsAsBusy) {
  BoardProcess board(board_options());
  PanelLink first(program_dir());
  PanelLink second(program_dir());
  first.click_open_comm();
  ASSERT_TRUE(first.port.is_open());

  second.click_open_comm();
  EXPECT_FALSE(second.port.is_open());
  ASSERT_EQ(second.messages.shown.size(), 1u);
  EXPECT_EQ(second.messages.shown[0].text,
            "Port 1 (" + link_path() +
                ") could not be opened: Device busy: another program is using the port");
  EXPECT_EQ(second.messages.shown[0].caption, "open com");
  EXPECT_EQ(second.caption, "open com");

  // Once the first lets go, the port is free again.
  first.click_open_comm();
  second.click_open_comm();
  EXPECT_TRUE(second.port.is_open());
  EXPECT_TRUE(wait_until([&] { return second.count(IndicatorState::Closed) == 16; }, generous_ms));
}

TEST_F(LinkToBoard, BoardStopsCleanlyOnInterruptAndTakesItsLinkAlong) {
  BoardProcess board(board_options());
  EXPECT_TRUE(std::filesystem::is_symlink(link_path()));
  EXPECT_EQ(board.interrupt(), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link_path())));
}

}  // namespace
