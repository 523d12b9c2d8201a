// relayctl.exe under Wine on a line that the bridge serves: a real mosquitto, the bridge
// and the virtual board run here on Linux, the program under Wine reaches them through
// the broker; what it prints, its exit statuses and the frames the board receives.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>

#include "bridge_rig.h"
#include "windows_program.h"
#include "wine_session.h"

namespace {

// The table the bridge's default names give, with the relays listed in `opened` opened.
std::string states(const std::vector<int>& opened) {
  std::string text = "relay  state   name\n";
  for (int r = 1; r <= 16; ++r) {
    char row[48];
    const bool open = std::find(opened.begin(), opened.end(), r) != opened.end();
    std::snprintf(row, sizeof row, "%5d  %s  relay%d\n", r, open ? "opened" : "closed", r);
    text += row;
  }
  return text;
}

// relayctl.conf where Windows keeps the user's settings (%APPDATA%), in the tests' Wine
// prefix; gone again with the case, so that no other case reads it.
class AppDataConfig {
 public:
  explicit AppDataConfig(const std::string& text) {
    for (const auto& user : std::filesystem::directory_iterator(prefix_users())) {
      if (std::filesystem::is_directory(user.path() / "AppData" / "Roaming")) {
        folder_ = user.path() / "AppData" / "Roaming" / "relay-panel";
      }
    }
    std::filesystem::create_directories(folder_);
    std::ofstream(folder_ / "relayctl.conf", std::ios::binary) << text;
  }
  ~AppDataConfig() { std::filesystem::remove_all(folder_); }
  AppDataConfig(const AppDataConfig&) = delete;
  AppDataConfig& operator=(const AppDataConfig&) = delete;

 private:
  static std::filesystem::path prefix_users() {
    return WineSession::get().prefix / "drive_c" / "users";
  }
  std::filesystem::path folder_;
};

class ServedRelayctlExe : public BridgeRig {
 protected:
  ServedRelayctlExe() : program(install_program("relayctl.exe", dir())) {}

  std::string url(const std::string& scheme = "mqtt") const {
    return scheme + "://" + broker.host() + ":" + std::to_string(broker.port());
  }
  // The exit status, standard output and error output of one run; each answer may take
  // seconds on a loaded machine.
  std::tuple<int, std::string, std::string> run(const QStringList& arguments) {
    WindowsProgram process(program, QStringList{"--timeout", "3000"} + arguments);
    const int code = process.finish();
    std::string err;
    for (const auto& line : process.lines()) err += line + "\n";
    return {code, process.out, err};
  }

  std::filesystem::path program;
};

TEST_F(ServedRelayctlExe, CommandsThroughTheBrokerWithTheLocalLinesOutput) {
  auto bridge = start_bridge_online();
  const QString broker_url = QString::fromStdString(url());
  const QStringList served{"--broker", broker_url, "--line", "com1"};
  const struct {
    QStringList arguments;
    int code;
    std::string out;
    std::string err;
    std::vector<std::string> frames;
  } rows[] = {
      {served + QStringList{"status"}, 0, states({}), "", {}},
      {served + QStringList{"open", "5"}, 0, "", "", {"55 01 12 00 00 00 05 6D"}},
      // The broker and the line from %APPDATA%\relay-panel\relayctl.conf.
      {{"status"}, 0, states({5}), "", {}},
      {{"--broker", QString::fromStdString(url("mqtts")), "--line", "com1", "status"},
       1,
       "",
       "relayctl: mqtts:// cannot be used: TLS is not available in the Windows build of "
       "relayctl (plain mqtt:// only) (see relayctl --help)\n",
       {}},
  };
  const AppDataConfig config("broker = " + url() + "\r\nline = com1\r\n");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arguments.join(' ').toStdString());
    const auto [code, out, err] = run(row.arguments);
    EXPECT_EQ(code, row.code) << err;
    EXPECT_EQ(out, row.out);
    EXPECT_EQ(err, row.err);
    EXPECT_EQ(wait_switch_frames(row.frames.size()), row.frames) << board->log();
  }

  // Its bridge gone, the line is served by nobody: the port's status, 2.
  bridge->signal(SIGTERM);
  ASSERT_TRUE(bridge->wait_exit().has_value()) << bridge->log();
  ASSERT_TRUE(watcher->wait_for_payload(topic("status"), "offline"));
  const auto [code, out, err] = run(served + QStringList{"status"});
  EXPECT_EQ(code, 2);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "relayctl: line com1 is served by no bridge now: its bridge is offline\n");
}

}  // namespace
