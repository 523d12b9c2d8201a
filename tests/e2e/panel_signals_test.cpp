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
#include "link_qt/qt_serial_port.h"
#include "link_system/serial_lock_file.h"
#include "link_system/serial_platform.h"

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
    QtSerialPort next(dir.path().toStdString());
    next.select_port(1);
    const OpenResult reopened = next.open();
    EXPECT_TRUE(reopened.ok) << reopened.reason;
  }
}

}  // namespace
