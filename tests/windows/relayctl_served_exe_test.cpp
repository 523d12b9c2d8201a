// relayctl.exe under Wine on a line that the bridge serves: a real mosquitto, the bridge
// and the virtual board run here on Linux, the program under Wine reaches them through
// the broker; what it prints, its exit statuses and the frames the board receives.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <regex>

#include "bridge_rig.h"
#include "qt_events.h"
#include "tls_rig.h"
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

// Anonymous clients read every topic and send only what the bridge sends, and switch
// on line com1 alone.
MqttBroker::Options acl_broker() {
  MqttBroker::Options options;
  options.acl =
      "topic read relayboard/#\ntopic write relayboard/+/status\n"
      "topic write relayboard/+/client\ntopic write relayboard/+/info\n"
      "topic write relayboard/+/+/status\ntopic write relayboard/+/+/result\n"
      "topic write relayboard/+/+/+/state\ntopic write relayboard/+/+/+/name\n"
      "topic write relayboard/+/+/names\ntopic write relayboard/com1/#\n";
  return options;
}

class ServedRelayctlExe : public BridgeRig {
 protected:
  ServedRelayctlExe()
      : BridgeRig({}, acl_broker()), program(install_program("relayctl.exe", dir())) {}

  std::string url() const {
    return "mqtt://" + broker.host() + ":" + std::to_string(broker.port());
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
  // Another line's retained picture, whose switch topics the broker refuses.
  MqttTestClient other(broker);
  other.publish("relayboard/ro/status", "online", true);
  other.publish("relayboard/ro/1/status", "online", true);
  for (int r = 1; r <= 16; ++r) {
    other.publish("relayboard/ro/1/" + std::to_string(r) + "/state", "OFF", true);
  }
  ASSERT_TRUE(watcher->wait_for_payload("relayboard/ro/1/16/state", "OFF"));
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
      {{"--broker", broker_url, "--line", "ro", "open", "2"},
       2,
       "",
       "relayctl: not allowed: the broker refused the switch (Not authorized)\n",
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

// Over TLS: the broker's certificate is checked against the CA file and the broker's
// address, and a wrong one is refused with the reason.
class TlsRelayctlExe : public TlsBridgeRig {
 protected:
  TlsRelayctlExe() : program(install_program("relayctl.exe", dir())) {}
  std::filesystem::path program;
};

TEST_F(TlsRelayctlExe, ConnectsOnlyToABrokerWhoseCertificateIsRight) {
  auto bridge = start_bridge_online();
  const std::string authority_unknown =
      "the broker's certificate is from an authority that the CA file does not hold (self-signed "
      "certificate in certificate chain)";
  const struct {
    const MqttBroker& at;
    std::string cafile;
    int code;
    std::string refusal;
    std::vector<std::string> frames;
  } rows[] = {
      {broker, broker.ca_file(), 0, "", {"55 01 12 00 00 00 05 6D"}},
      {broker, elsewhere.ca_file(), 2, authority_unknown, {}},
      {elsewhere,
       elsewhere.ca_file(),
       2,
       "the broker's certificate is not made out to 127.0.0.1 (IP address mismatch)",
       {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(url(row.at) + " " + row.cafile);
    WindowsProgram process(
        program, {"--timeout", "3000", "--broker", QString::fromStdString(url(row.at)), "--cafile",
                  QString::fromStdString(windows_path(row.cafile)), "--line", "com1", "open", "5"});
    EXPECT_EQ(process.finish(), row.code);
    const std::string said = process.lines().empty() ? "" : process.lines().front();
    EXPECT_EQ(said, row.refusal.empty()
                        ? ""
                        : "relayctl: broker 127.0.0.1:" + std::to_string(row.at.port()) +
                              " not reached (" + row.refusal + ")");
    EXPECT_EQ(wait_switch_frames(row.frames.size()), row.frames) << board->log();
  }
}

// The states once, then each change as the bridge reports it, until Ctrl+C (which Wine
// hands to the program as a SIGINT); the UTC time heading each line is left out.
TEST_F(ServedRelayctlExe, WatchFollowsTheStatesUntilCtrlC) {
  auto bridge = start_bridge_online();
  WindowsProgram watch(program,
                       {"--broker", QString::fromStdString(url()), "--line", "com1", "watch"});
  const auto shows = [&](const std::string& text) {
    return wait_until(
        [&] {
          watch.out += without_cr(watch.readAllStandardOutput().toStdString());
          return watch.out.find(text) != std::string::npos;
        },
        30000);
  };
  ASSERT_TRUE(shows("relay 16 closed")) << watch.out;
  ASSERT_TRUE(watcher->publish(topic("1/3/set"), "ON"));
  ASSERT_TRUE(shows("relay 3 opened")) << watch.out;
  ::kill(static_cast<pid_t>(watch.processId()), SIGINT);
  EXPECT_EQ(watch.finish(), 0);
  std::string expected;
  for (int r = 1; r <= 16; ++r) expected += "relay " + std::to_string(r) + " closed\n";
  const std::regex time(R"((^|\n)\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z )");
  EXPECT_EQ(std::regex_replace(watch.out, time, "$1"), expected + "relay 3 opened\n");
  EXPECT_EQ(take_switch_frames(), std::vector<std::string>{"55 01 12 00 00 00 03 6B"});
}

}  // namespace
