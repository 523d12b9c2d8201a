// The panel's link against the virtual board over a pseudo-terminal, paced by the real
// 50 ms timer in a Qt event loop.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "panel_link.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes status_query = {0x55, 0x01, 0x10, 0x00, 0x00, 0x00, 0x00, 0x66};
const Bytes open_all = {0x55, 0x01, 0x13, 0x00, 0x00, 0xFF, 0xFF, 0x67};
const Bytes switch_opened_5 = {0x55, 0x01, 0x11, 0x00, 0x00, 0x00, 0x05, 0x6C};

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class LinkToBoard : public ::testing::Test {
 protected:
  LinkToBoard() { start_qt(); }

  QStringList board_options(const QString& mode = "normal", const QString& port = "1") const {
    return {"--link-dir", dir.path(), "--port", port, "--mode", mode, "--delay-ms", "120"};
  }
  std::filesystem::path program_dir() const { return dir.path().toStdString(); }
  std::string link_path() const { return (program_dir() / "com1").string(); }

  // Opens the port; the board's first answer shows every relay closed.
  static ::testing::AssertionResult opens_on_a_closed_board(PanelLink& panel) {
    panel.click_open_comm();
    if (!panel.messages.shown.empty()) {
      return ::testing::AssertionFailure() << panel.messages.shown.front().text;
    }
    if (!wait_until([&] { return panel.count(IndicatorState::Closed) == 16; })) {
      return ::testing::AssertionFailure() << "no answer from the board";
    }
    return ::testing::AssertionSuccess();
  }

  QTemporaryDir dir;
};

TEST_F(LinkToBoard, QueriesAreAnsweredAndARelayCommandComesBackAsItsNewState) {
  BoardProcess board(board_options());
  PanelLink panel(program_dir());
  ASSERT_TRUE(opens_on_a_closed_board(panel));
  EXPECT_EQ(panel.shown.caption, "close com");
  EXPECT_EQ(panel.frames.front(), status_query);

  panel.cycle.openall_Click();
  ASSERT_TRUE(wait_until([&] { return panel.count(IndicatorState::Opened) == 16; }));
  panel.cycle.Picture1_Click(5);
  ASSERT_TRUE(wait_until([&] { return panel.indicators.states[4] == IndicatorState::Closed; }));
  EXPECT_EQ(panel.count(IndicatorState::Opened), 15);

  // Each command went out once, in place of one status query, and polling went on.
  const auto sent = panel.frames.size();
  ASSERT_TRUE(wait_until([&] { return panel.frames.size() > sent; }));
  std::vector<Bytes> commands;
  std::copy_if(panel.frames.begin(), panel.frames.end(), std::back_inserter(commands),
               [](const Bytes& frame) { return frame != status_query; });
  EXPECT_EQ(commands, (std::vector<Bytes>{open_all, switch_opened_5}));
  EXPECT_EQ(panel.frames.back(), status_query);
}

TEST_F(LinkToBoard, LateAnswersRepaintButAnswersThatFailTheCheckLeaveTheRelaysUnknown) {
  const QString modes[] = {"late", "silent", "bad-checksum", "stray-byte"};
  std::vector<std::unique_ptr<BoardProcess>> boards;
  std::vector<std::unique_ptr<PanelLink>> panels;
  for (int port = 1; port <= 4; ++port) {
    boards.push_back(
        std::make_unique<BoardProcess>(board_options(modes[port - 1], QString::number(port))));
    panels.push_back(std::make_unique<PanelLink>(program_dir(), std::to_string(port)));
    panels.back()->click_open_comm();
  }
  run_events_for(500);

  for (int port = 1; port <= 4; ++port) {
    const QString& mode = modes[port - 1];
    const PanelLink& panel = *panels[port - 1];
    SCOPED_TRACE(mode.toStdString());
    ASSERT_TRUE(panel.messages.shown.empty()) << panel.messages.shown.front().text;
    EXPECT_GE(panel.frames.size(), 5u);
    EXPECT_EQ(panel.received.empty(), mode == "silent");
    if (mode == "late") {
      EXPECT_EQ(panel.count(IndicatorState::Closed), 16);
      continue;
    }
    for (const auto& [relay, state] : panel.indicators.paints) {
      EXPECT_EQ(state, IndicatorState::Unknown) << "relay " << relay;
    }
    EXPECT_EQ(panel.count(IndicatorState::Unknown), 16);
  }
}

TEST_F(LinkToBoard, BoardGoneWhileOpenLeavesThePanelIdleAndAReopenBringsItBack) {
  auto board = std::make_unique<BoardProcess>(board_options());
  PanelLink panel(program_dir());
  ASSERT_TRUE(opens_on_a_closed_board(panel));

  board->kill();  // the board's power is cut: no clean-up, its link stays behind
  board->waitForFinished();
  // The dead line must not keep the program busy while the operator looks at it.
  const double cpu_before = cpu_seconds();
  run_events_for(700);
  EXPECT_LT(cpu_seconds() - cpu_before, 0.3) << "the panel spun on the dead line";
  EXPECT_TRUE(panel.port.is_open());
  EXPECT_TRUE(panel.port.device_lost());
  EXPECT_EQ(panel.count(IndicatorState::Unknown), 16);
  EXPECT_EQ(panel.shown.caption, "close com");

  board = std::make_unique<BoardProcess>(board_options());
  panel.click_open_comm();
  EXPECT_EQ(panel.count(IndicatorState::Idle), 16);
  EXPECT_FALSE(panel.timer.isActive());
  ASSERT_TRUE(opens_on_a_closed_board(panel));
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
  EXPECT_EQ(second.messages.shown,
            (std::vector<Message>{{"Port 1 (" + link_path() +
                                       ") could not be opened: Device busy: another program is "
                                       "using the port",
                                   "open com", MessageIcon::Critical}}));
  EXPECT_EQ(second.shown, FakePortView::Shown{});  // the window as it was

  // Once the first lets go, the port is free again.
  first.click_open_comm();
  second.messages.shown.clear();
  EXPECT_TRUE(opens_on_a_closed_board(second));
}

TEST_F(LinkToBoard, BoardStopsCleanlyOnInterruptAndTakesItsLinkAlong) {
  BoardProcess board(board_options());
  EXPECT_TRUE(std::filesystem::is_symlink(link_path()));
  ::kill(static_cast<pid_t>(board.processId()), SIGINT);  // as Ctrl+C would
  ASSERT_TRUE(board.waitForFinished());
  EXPECT_EQ(board.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(board.exitCode(), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link_path())));
}

}  // namespace
