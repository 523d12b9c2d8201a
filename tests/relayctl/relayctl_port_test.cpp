// relayctl and the panel on one port, and relayctl against the virtual board program
// in the modes that make scripts fail.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>

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
  EXPECT_EQ(result.err, "relayctl: " + busy_text(name, QCoreApplication::applicationPid()) + "\n");
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
       "relayctl: the board did not answer within 50 ms (3 tries)\n"},
      {"deaf-switch",
       {"open", "5"},
       4,
       "relayctl: relay 5 did not open (the board still reports closed)\n"},
      {"deaf-switch", {"close", "5"}, 0, ""},  // closed already: nothing to switch
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.mode.toStdString() + " " + row.arguments.join(' ').toStdString());
    BoardProcess board(board_options(row.mode));
    const CtlResult result = run(row.arguments);
    EXPECT_EQ(result.code, row.code);
    EXPECT_EQ(result.err, row.err);
  }
}

}  // namespace
