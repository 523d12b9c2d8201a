// relayctl and the panel on one port, and relayctl against the virtual board program
// in the modes that make scripts fail.
#include <errno.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <signal.h>
#include <string.h>

#include <QCoreApplication>
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "relayctl_rig.h"

namespace {

class RelayctlAndPanel : public RelayctlRig {
 protected:
  QStringList board_options(const QString& mode = QStringLiteral("normal")) const {
    return {"--link-dir", temp.path(), "--port", "1", "--mode", mode};
  }
  std::string busy_text(const std::string& program, qint64 pid) const {
    return "Port 1 (" + (dir() / "com1").string() +
           ") could not be opened: Device busy: " + program + " (process " + std::to_string(pid) +
           ") is using the port";
  }
};

TEST_F(RelayctlAndPanel, RelayctlFindsThePanelHoldingThePortAndNamesIt) {
  BoardProcess board(board_options());
  PanelLink panel(dir());
  panel.click_open_comm();
  ASSERT_TRUE(panel.port.is_open());

  const CtlResult result = run({"--port", "1", "status"});
  EXPECT_EQ(result.code, 2);
  // This test program is the panel here.
  std::ifstream comm("/proc/self/comm");
  std::string name;
  std::getline(comm, name);
  EXPECT_EQ(result.err, "relayctl: " + busy_text(name, QCoreApplication::applicationPid()) +
                            "; to share a line, let relayboard-mqtt serve it and reach it with "
                            "--broker URL --line NAME (relayctl(1), SERVED LINES)\n");
}

TEST_F(RelayctlAndPanel, ThePanelFindsAWatchHoldingThePortAndNamesIt) {
  BoardProcess board(board_options());
  auto watch = start({"watch"});
  std::string out;
  ASSERT_TRUE(wait_until([&] {
    out += watch->readAllStandardOutput().toStdString();
    return out.ends_with("relay 16 closed\n");
  })) << out;

  PanelLink panel(dir());
  panel.click_open_comm();
  EXPECT_FALSE(panel.port.is_open());
  ASSERT_EQ(panel.messages.shown.size(), 1u);
  EXPECT_EQ(panel.messages.shown.front().text, busy_text("relayctl", watch->processId()));

  ::kill(static_cast<pid_t>(watch->processId()), SIGINT);
  EXPECT_EQ(finish(*watch).code, 0);
  // The watch let go of the port on its way out.
  panel.messages.shown.clear();
  panel.click_open_comm();
  EXPECT_TRUE(panel.port.is_open()) << panel.messages.shown.front().text;
}

TEST_F(RelayctlAndPanel, TheVirtualBoardsModesGiveEachExitStatus) {
  struct Row {
    QString mode;
    QStringList arguments;
    int code;
    std::string err;
  };
  const Row rows[] = {
      {"normal", {"--port", "1", "pulse", "5", "500ms"}, 0, ""},
      {"silent",
       {"--timeout", "50", "open", "5"},
       3,
       "relayctl: the board did not answer within 50 ms (3 tries)"},
      {"deaf-switch",
       {"open", "5"},
       4,
       "relayctl: relay 5 did not open (the board still reports closed)"},
      {"deaf-switch", {"close", "5"}, 0, ""},  // closed already: nothing to switch
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.mode.toStdString() + " " + row.arguments.join(' ').toStdString());
    BoardProcess board(board_options(row.mode));
    const CtlResult result = run(row.arguments);
    EXPECT_EQ(result.code, row.code);
    const std::string silent = row.code == 3 ? on_port_1(board.device.toStdString()) : "";
    EXPECT_EQ(result.err, row.err.empty() ? "" : row.err + silent + "\n");
  }
}

// The board unplugged in a pulse's hold takes the pulse's end with it: relayctl names the
// relays it may have left on, and the line they are on.
TEST_F(RelayctlAndPanel, ABoardUnpluggedInAPulseNamesTheRelaysThatMayBeLeftOn) {
  BoardProcess board(board_options() << "--verbose", QProcess::SeparateChannels);
  auto pulse = start({"--timeout", "500", "--port", "1", "pulse", "5-6", "3s"});
  QByteArray log;
  ASSERT_TRUE(wait_until([&] {
    log += board.readAllStandardError();
    return log.contains("<- 55 01 12 00 00 00 06 6E");
  })) << log.toStdString();
  board.send(SIGUSR1);
  const CtlResult result = finish(*pulse);
  EXPECT_EQ(result.code, 6);
  EXPECT_EQ(result.err,
            "relayctl: relays 5, 6 may be left on: the board did not answer within "
            "500 ms (3 tries)" +
                on_port_1(board.device.toStdString()) + "\n");
}

// Copied alone, without its event log module, relayctl still switches and says that it
// keeps no log; a status never needs the module, and `log` says why it cannot read one.
TEST_F(RelayctlAndPanel, WithoutItsEventLogModuleASwitchIsToldUnloggedAndLogFails) {
  std::filesystem::remove(dir() / "relayctl_events.so");
  BoardProcess board(board_options());
  // Where an installed relayctl keeps it is the build's to say.
  const std::string missing = "relayctl_events.so is not installed in /";
  const struct {
    QStringList arguments;
    int code;
    std::string err;    // the one line on stderr, up to the folder
    std::string shown;  // a line of the output
  } rows[] = {
      {{"--port", "1", "open", "5"}, 0, "relayctl: no event log: " + missing, ""},
      {{"--port", "1", "status"}, 0, "", "\n    5  opened"},
      {{"log"}, 1, "relayctl: the event log is not available: " + missing, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arguments.join(' ').toStdString());
    const CtlResult result = run(row.arguments);
    EXPECT_EQ(result.code, row.code);
    EXPECT_EQ(result.err.substr(0, row.err.size()), row.err);
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), row.err.empty() ? 0 : 1);
    EXPECT_NE(result.out.find(row.shown), std::string::npos) << result.out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir() / "events.db"));
}

// The system's words in a failure are in the language the environment asks for, and in
// the C locale's English without one.
TEST_F(RelayctlAndPanel, TheSystemsWordsFollowTheLocaleAskedFor) {
  const std::filesystem::path plain = dir() / "plain";
  std::ofstream(plain) << "no serial port\n";
  for (const char* name : {"zh_CN.UTF-8", "C.UTF-8", "C"}) {
    SCOPED_TRACE(name);
    const locale_t asked = ::newlocale(LC_ALL_MASK, name, nullptr);
    if (!asked) continue;  // not installed here
    const std::string words = ::strerror_l(ENOTTY, asked);
    ::freelocale(asked);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LC_MESSAGES", "LANGUAGE"}) {
      environment.remove(variable);
    }
    environment.insert("LANG", name);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, {"--device", QString::fromStdString(plain.string()), "status"});
    const CtlResult result = finish(process);
    EXPECT_EQ(result.code, 2);
    EXPECT_EQ(result.err, "relayctl: " + plain.string() +
                              " could not be opened: Not a serial port (" + words + ")\n");
  }
}

}  // namespace
