// The panel's link against the virtual board over a pseudo-terminal, paced by the real
// 50 ms timer in a Qt event loop.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "panel_link.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes status_query = {0x55, 0x01, 0x10, 0x00, 0x00, 0x00, 0x00, 0x66};
const Bytes open_all = {0x55, 0x01, 0x13, 0x00, 0x00, 0xFF, 0xFF, 0x67};
const Bytes switch_opened_5 = {0x55, 0x01, 0x11, 0x00, 0x00, 0x00, 0x05, 0x6C};

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

  panel.cycle.open_all();
  ASSERT_TRUE(wait_until([&] { return panel.count(IndicatorState::Opened) == 16; }));
  panel.cycle.relay_clicked(5);
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
  // Long enough for the watchdog to run out twice over, and for a late answer to come.
  for (const auto& panel : panels) {
    ASSERT_TRUE(wait_until([&] { return panel->ticks >= 12; }));
  }
  ASSERT_TRUE(wait_until([&] { return panels[0]->count(IndicatorState::Closed) == 16; }));

  for (int port = 1; port <= 4; ++port) {
    const QString& mode = modes[port - 1];
    const PanelLink& panel = *panels[port - 1];
    SCOPED_TRACE(mode.toStdString());
    ASSERT_TRUE(panel.messages.shown.empty()) << panel.messages.shown.front().text;
    EXPECT_GE(panel.frames.size(), 12u);
    EXPECT_EQ(panel.received.empty(), mode == "silent");
    if (mode == "late") continue;
    EXPECT_EQ(panel.answers, 0);
    for (const auto& [relay, state] : panel.indicators.paints) {
      EXPECT_EQ(state, IndicatorState::Unknown) << "relay " << relay;
    }
    EXPECT_EQ(panel.count(IndicatorState::Unknown), 16);
  }
}

TEST_F(LinkToBoard, APulledBoardIsReleasedAndTakenBackWhenItReturns) {
  auto board = std::make_unique<BoardProcess>(board_options());
  PanelLink panel(program_dir());
  ASSERT_TRUE(opens_on_a_closed_board(panel));
  panel.cycle.relay_clicked(3);
  ASSERT_TRUE(wait_until([&] { return panel.indicators.states[2] == IndicatorState::Opened; }));

  // Unplugged and plugged in again: the relays kept their states, and the panel shows
  // them without the operator doing anything.
  for (int replug = 0; replug < 3; ++replug) {
    SCOPED_TRACE("replug " + std::to_string(replug));
    board->send(SIGUSR1);
    ASSERT_TRUE(wait_until([&] { return panel.port.device_lost(); }));
    EXPECT_TRUE(panel.port.is_open());
    EXPECT_EQ(panel.shown.caption, "close com");
    ASSERT_TRUE(wait_until([&] { return panel.count(IndicatorState::Unknown) == 16; }));

    board->send(SIGUSR2);
    QElapsedTimer back;
    back.start();
    ASSERT_TRUE(wait_until([&] {
      return panel.indicators.states[2] == IndicatorState::Opened &&
             panel.count(IndicatorState::Closed) == 15;
    }));
    ::testing::Test::RecordProperty("pickup_ms_" + std::to_string(replug),
                                    static_cast<int>(back.elapsed()));
    EXPECT_FALSE(panel.port.device_lost());
  }

  // The board's power cut, its link left behind: the hang-up is seen in the same pass of
  // the event loop that runs the next tick.
  board->kill();
  ASSERT_TRUE(board->waitForFinished(15000));
  const int ticks = panel.ticks;
  ASSERT_TRUE(wait_until([&] { return panel.port.device_lost(); }));
  EXPECT_LE(panel.ticks - ticks, 1);

  board = std::make_unique<BoardProcess>(board_options());
  EXPECT_TRUE(wait_until([&] { return panel.count(IndicatorState::Closed) == 16; }));
  EXPECT_TRUE(panel.messages.shown.empty());

  // The operator closes the port: it stays closed, and opens as ever.
  board->send(SIGUSR1);
  ASSERT_TRUE(wait_until([&] { return panel.port.device_lost(); }));
  panel.click_open_comm();
  EXPECT_EQ(panel.count(IndicatorState::Idle), 16);
  EXPECT_FALSE(panel.timer.isActive());
  EXPECT_FALSE(panel.port.device_lost());
  board->send(SIGUSR2);
  board->next_device();
  ASSERT_TRUE(opens_on_a_closed_board(panel));
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

// Exclusive for every user, root included: two links to one adapter are one port, and a
// program that locks the device keeps the panel out and is kept out by it.
TEST_F(LinkToBoard, TwoLinksToOneDeviceAreOnePort) {
  BoardProcess board(board_options());
  std::filesystem::create_symlink(board.device.toStdString(), program_dir() / "com2");
  PanelLink first(program_dir(), "1");
  PanelLink second(program_dir(), "2");
  ASSERT_TRUE(opens_on_a_closed_board(first));

  second.click_open_comm();
  EXPECT_FALSE(second.port.is_open());
  EXPECT_EQ(second.messages.shown,
            (std::vector<Message>{{"Port 2 (" + (program_dir() / "com2").string() +
                                       ") could not be opened: Device busy: another program is "
                                       "using the port",
                                   "open com", MessageIcon::Critical}}));

  const int other = ::open(board.device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0) << "the panel's lock is not the device's";
  first.click_open_comm();
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  second.messages.shown.clear();
  second.click_open_comm();
  EXPECT_FALSE(second.port.is_open()) << "opened a device another program holds";
  EXPECT_EQ(second.messages.shown.size(), 1u);
  ::close(other);
  second.messages.shown.clear();
  EXPECT_TRUE(opens_on_a_closed_board(second));
}

TEST_F(LinkToBoard, BoardStopsCleanlyOnInterruptAndTakesItsLinkAlong) {
  BoardProcess board(board_options());
  EXPECT_TRUE(std::filesystem::is_symlink(link_path()));
  ::kill(static_cast<pid_t>(board.processId()), SIGINT);  // as Ctrl+C would
  ASSERT_TRUE(board.waitForFinished(15000));
  EXPECT_EQ(board.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(board.exitCode(), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link_path())));
}

}  // namespace
