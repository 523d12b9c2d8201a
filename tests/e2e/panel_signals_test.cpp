#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <string>

#include "board_process.h"
#include "loop/qt_descriptor_loop.h"
#include "serial/posix_serial_port.h"
#include "serial/serial_lock_file.h"
#include "serial/serial_platform.h"

namespace {

constexpr int wait_ms = 15000;

// The panel program itself, run as a service manager or a terminal runs it, with the
// virtual board as port 1: Ctrl+C, a stop and a hang-up each end it as closing its
// window does, and the port is free for the next program at once.
TEST(PanelProgram, StopSignalsCloseThePortAndEndThePanelCleanly) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    QTemporaryDir dir;
    BoardProcess board({"--link-dir", dir.path(), "--port", "1"});
    ASSERT_FALSE(board.device.isEmpty());
    const std::string device = board.device.toStdString();
    const std::string lock = serial_lock_file(device_node(device));

    QProcess panel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("RELAY_PANEL_MESSAGES", "stderr");
    environment.insert("RELAY_PANEL_OPEN_PORT", "1");
    panel.setProcessEnvironment(environment);
    panel.start(RELAY_PANEL, {"--names", dir.filePath("name.txt")});
    // The port is open once its lock file names the panel: a file left by a program that
    // was killed (an earlier test's) may be there before.
    const std::string holder = std::to_string(panel.processId());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          std::string pid;
          std::getline(std::ifstream(lock) >> std::ws, pid);
          return pid == holder;
        },
        wait_ms))
        << panel.readAllStandardError().toStdString();

    ::kill(static_cast<pid_t>(panel.processId()), signal);
    ASSERT_TRUE(panel.waitForFinished(wait_ms));
    EXPECT_EQ(panel.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(panel.exitCode(), 0) << panel.readAllStandardError().toStdString();
    EXPECT_FALSE(std::filesystem::exists(lock));
    PosixSerialPort next(dir.path().toStdString(), QtDescriptorLoop::program());
    next.select_port(1);
    const OpenResult reopened = next.open();
    EXPECT_TRUE(reopened.ok) << reopened.reason;
  }
}

// The panel program owns the line it opens: the board gets its on_start state once it
// has answered, and its on_stop state when a stop signal closes the window, before the
// port goes.
TEST(PanelProgram, TheBoardGetsItsStartStateAndItsStopStateBeforeThePortCloses) {
  QTemporaryDir dir;
  std::ofstream(dir.filePath("rules.conf").toStdString())
      << "[address 1]\non_start = 2 on\non_stop = off\n";
  BoardProcess board({"--link-dir", dir.path(), "--port", "1", "--verbose"},
                     QProcess::SeparateChannels);
  ASSERT_FALSE(board.device.isEmpty());
  QByteArray frames;
  const auto received = [&](const char* frame) {
    frames += board.readAllStandardError();
    return frames.contains(frame);
  };
  QProcess panel;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  environment.insert("RELAY_PANEL_MESSAGES", "stderr");
  environment.insert("RELAY_PANEL_OPEN_PORT", "1");
  panel.setProcessEnvironment(environment);
  panel.start(RELAY_PANEL, {"--names", dir.filePath("name.txt")});
  ASSERT_TRUE(QTest::qWaitFor([&] { return received("<- 55 01 12 00 00 00 02 6A"); }, wait_ms))
      << frames.toStdString();
  EXPECT_FALSE(frames.contains("<- 55 01 13"));
  ::kill(static_cast<pid_t>(panel.processId()), SIGTERM);
  ASSERT_TRUE(panel.waitForFinished(wait_ms));
  EXPECT_EQ(panel.exitCode(), 0) << panel.readAllStandardError().toStdString();
  // Sent before the port closed, so it is at the board by now or on its way.
  EXPECT_TRUE(QTest::qWaitFor([&] { return received("<- 55 01 13 00 00 00 00 69"); }, wait_ms))
      << frames.toStdString();
}

}  // namespace
