// relayctl on a line that the bridge serves: the real program, the bridge and the
// virtual board, through a mosquitto whose ACL lets anonymous clients read every topic
// but send only what the bridge sends (so relayctl may not switch there).
#include <csignal>
#include <fstream>
#include <functional>
#include <regex>

#include "bridge_rig.h"

namespace {

MqttBroker::Options acl_broker() {
  MqttBroker::Options options;
  options.acl =
      "topic read relayboard/#\ntopic readwrite homeassistant/#\n"
      "topic write relayboard/+/status\ntopic write relayboard/+/client\n"
      "topic write relayboard/+/info\ntopic write relayboard/+/+/status\n"
      "topic write relayboard/+/+/result\ntopic write relayboard/+/+/+/state\n"
      "topic write relayboard/+/schedule\n"
      // Switching is allowed on line com1 only.
      "topic write relayboard/com1/+/+/set\ntopic write relayboard/com1/+/+/pulse\n";
  return options;
}

class ServedRelayctl : public BridgeRig {
 protected:
  ServedRelayctl() : BridgeRig({"--addresses", "1,2"}, acl_broker()) {}

  // The exit status and what relayctl printed, stdout and stderr together.
  std::pair<int, std::string> relayctl(const std::string& line, std::vector<std::string> words) {
    std::vector<std::string> arguments{
        "--broker", "mqtt://" + broker.host() + ":" + std::to_string(broker.port()), "--line",
        line};
    arguments.insert(arguments.end(), words.begin(), words.end());
    LoggedProcess process(RELAYCTL_PATH, arguments,
                          dir() + "/relayctl" + std::to_string(++calls) + ".log");
    const auto code = process.wait_exit();
    return {code.value_or(-1), process.log()};
  }
  int calls = 0;
};

std::string states(const std::string& opened) {
  std::string text = "relay  state\n";
  for (int r = 1; r <= 16; ++r) {
    std::string listed = ",";
    listed += std::to_string(r);
    listed += ',';
    char row[32];
    std::snprintf(row, sizeof row, "%5d  %s\n", r,
                  opened.find(listed) != std::string::npos ? "opened" : "closed");
    text += row;
  }
  return text;
}

TEST_F(ServedRelayctl, CommandsHaveTheLocalLinesOutputAndExitStatuses) {
  auto bridge = start_bridge_online({"--addresses", "1,2"});
  struct Case {
    std::string line;
    std::vector<std::string> words;
    int exit;
    std::string output;
  };
  const Case cases[] = {
      {"com1", {"status"}, 0, states("")},
      {"com1", {"open", "3", "5"}, 0, ""},
      {"com1", {"close", "3"}, 0, ""},
      {"com1", {"--address", "2", "pulse", "4", "200ms"}, 0, ""},
      {"com1", {"status"}, 0, states(",5,")},
      {"com1", {"--address", "2", "status"}, 0, states("")},
      {"com1",
       {"--address", "7", "status"},
       3,
       "relayctl: board 7 of line com1 is not served by its bridge\n"},
      {"com1", {"open", "17"}, 1, "relayctl: relay 17 does not exist: relays are 1 to 16\n"},
      {"other",
       {"status"},
       2,
       "relayctl: no bridge serves line other on broker " + broker.host() + ":" +
           std::to_string(broker.port()) + "\n"},
      {"com1", {"lines"}, 0, "com1 online: 1 online 2 online\n"},
  };
  for (const auto& c : cases) {
    const auto [code, output] = relayctl(c.line, c.words);
    EXPECT_EQ(code, c.exit) << c.words.back() << "\n" << output;
    EXPECT_EQ(output, c.output) << c.words.back();
  }
  EXPECT_EQ(take_switch_frames().size(), 5u);  // 3 and 5 on, 3 off, board 2's 4 on and off
}

// The bridge judges a command of several relays whole, as a local line does: nothing
// reaches the wire, and relayctl ends with exit 1.
TEST_F(ServedRelayctl, WhatTheRulesRefuseSwitchesNothing) {
  std::ofstream(dir() + "/rules.conf") << "[address 1]\ninterlock = 1,2\n";
  auto bridge = start_bridge_online({"--addresses", "1,2"});
  EXPECT_EQ(relayctl("com1", {"open", "3", "1", "2"}),
            std::pair(1, std::string("relayctl: the switch was refused: relays 1 and 2 of board 1 "
                                     "are interlocked: only one may be on at a time\n")));
  EXPECT_EQ(relayctl("com1", {"status"}).second, states(""));
  EXPECT_EQ(take_switch_frames(), std::vector<std::string>{});
}

// The states once, then each change, as on a local line; the UTC time heading each line
// is left out.
TEST_F(ServedRelayctl, WatchPrintsTheStatesThenTheChanges) {
  auto bridge = start_bridge_online({"--addresses", "1,2"});
  LoggedProcess watch(
      RELAYCTL_PATH,
      std::vector<std::string>{"--broker",
                               "mqtt://" + broker.host() + ":" + std::to_string(broker.port()),
                               "--line", "com1", "watch"},
      dir() + "/watch.log");
  ASSERT_TRUE(watch.wait_for_log("relay 16 closed")) << watch.log();
  ASSERT_TRUE(watcher->publish(topic("1/3/set"), "ON"));
  ASSERT_TRUE(watch.wait_for_log("relay 3 opened")) << watch.log();
  watch.signal(SIGINT);
  EXPECT_EQ(watch.wait_exit(), 0) << watch.log();
  std::string expected;
  for (int r = 1; r <= 16; ++r) expected += "relay " + std::to_string(r) + " closed\n";
  const std::regex time(R"((^|\n)\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z )");
  EXPECT_EQ(std::regex_replace(watch.log(), time, "$1"), expected + "relay 3 opened\n");
}

TEST_F(ServedRelayctl, OfflineBridgeBoardAndARefusedSwitchAreToldAsSuch) {
  // Another line's retained picture, whose switch topics the broker refuses.
  MqttTestClient other(broker);
  other.publish("relayboard/ro/status", "online", true);
  other.publish("relayboard/ro/1/status", "online", true);
  for (int r = 1; r <= 16; ++r)
    other.publish("relayboard/ro/1/" + std::to_string(r) + "/state", "OFF", true);
  other.publish("relayboard/gone/status", "online", true);
  other.publish("relayboard/gone/1/status", "offline", true);
  other.publish("relayboard/com1/status", "offline", true);
  ASSERT_TRUE(watcher->wait_for_payload("relayboard/com1/status", "offline"));
  auto [code, output] = relayctl("ro", {"open", "2"});
  EXPECT_EQ(code, 2) << output;
  EXPECT_EQ(output, "relayctl: not allowed: the broker refused the switch (Not authorized)\n");
  std::tie(code, output) = relayctl("gone", {"status"});
  EXPECT_EQ(code, 3) << output;
  EXPECT_EQ(output, "relayctl: board 1 of line gone is offline\n");
  std::tie(code, output) = relayctl("com1", {"status"});
  EXPECT_EQ(code, 2) << output;
  EXPECT_EQ(output, "relayctl: line com1 is served by no bridge now: its bridge is offline\n");
  // A password that other users can read is refused before anything is sent.
  const std::string password = dir() + "/password";
  std::ofstream(password) << "secret\n";
  std::filesystem::permissions(password, std::filesystem::perms(0644));
  std::tie(code, output) = relayctl("com1", {"--user", "u", "--password-file", password, "status"});
  EXPECT_EQ(code, 1) << output;  // relayctl's status for bad input
  EXPECT_EQ(output, "relayctl: the password file " + password +
                        ": readable by others (mode 0644); let only its owner read it (chmod "
                        "600), or give --allow-readable-password-file (see relayctl --help)\n");
}

// Whatever takes a pulse's end from relayctl's sight in the hold (Ctrl+C, the board
// unplugged, the bridge killed, the broker gone) leaves the relays not seen closed as
// maybe on: named, exit 6, at once.
TEST_F(ServedRelayctl, APulseWhoseEndIsNotSeenNamesTheRelaysThatMayBeLeftOn) {
  auto bridge = start_bridge_online({"--addresses", "1,2"});
  const std::string where = broker.host() + ":" + std::to_string(broker.port());
  struct Case {
    std::string relays;  // the last one is waited for on
    std::function<void(LoggedProcess&)> fault;
    std::string output;
  };
  const Case cases[] = {
      {"8", [](LoggedProcess& pulse) { pulse.signal(SIGINT); },
       "relay 8 may be left on: the wait for the pulse's end was cut short (the bridge still "
       "ends it)"},
      {"5", [&](LoggedProcess&) { board->signal(SIGUSR1); },
       "relay 5 may be left on: board 1 of line com1 went offline"},
      {"5-6", [&](LoggedProcess&) { bridge->kill(); },
       "relays 5, 6 may be left on: the bridge of line com1 went offline"},
      {"7", [&](LoggedProcess&) { broker.kill(); },
       "relay 7 may be left on: the connection to broker " + where + " was lost"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    if (!bridge->running()) bridge = start_bridge_online({"--addresses", "1,2"});
    watcher->clear();
    LoggedProcess pulse(RELAYCTL_PATH,
                        std::vector<std::string>{"--broker", "mqtt://" + where, "--line", "com1",
                                                 "pulse", c.relays, "30s"},
                        dir() + "/pulse" + std::to_string(++calls) + ".log");
    ASSERT_TRUE(watcher->wait_for_payload(
        topic("1/" + c.relays.substr(c.relays.size() - 1) + "/state"), "ON"));
    c.fault(pulse);
    EXPECT_EQ(pulse.wait_exit(), 6) << pulse.log();
    EXPECT_EQ(pulse.log(), "relayctl: " + c.output + "\n");
    if (c.relays == "5") {
      board->signal(SIGUSR2);
      ASSERT_TRUE(watcher->wait_for_payload(topic("1/status"), "online"));
    }
  }
}

// The timetable's next runs in local time, from the bridge (with its pauses) and from
// its configuration file, in the order of the file.
TEST_F(ServedRelayctl, ScheduleShowsTheNextRunsFromTheBridgeOrItsFile) {
  const std::string config = dir() + "/bridge.conf";
  std::ofstream(config) << "addresses = 1,2\nschedule = porch: at 06:30 mon-fri: 1/3 on\n"
                           "schedule = every day 22:00: 2/all off\n";
  auto bridge = start_bridge_online({"--config", config});
  ASSERT_TRUE(watcher->publish(topic("schedule/1/set"), "OFF"));
  ASSERT_TRUE(watcher->wait_for(topic("schedule"), [](const SeenMessage& m) {
    return m.payload.find(R"("paused":true)") != std::string::npos;
  }));
  const std::string day = R"(\d{4}-\d\d-\d\d)";
  auto [code, output] = relayctl("com1", {"schedule"});
  EXPECT_EQ(code, 0) << output;
  EXPECT_TRUE(std::regex_match(output, std::regex(day + " 06:30 porch \\(paused\\)\n" + day +
                                                  " 22:00 every day 22:00: 2/all off\n")))
      << output;
  std::tie(code, output) = relayctl("com1", {"--json", "schedule"});
  EXPECT_TRUE(std::regex_match(output, std::regex(R"(\{"name":"porch","next":")" + day +
                                                  R"(T\d\d:\d\d:00Z","paused":true\}\n.*\n)")))
      << output;
  LoggedProcess from_file(RELAYCTL_PATH, std::vector<std::string>{"schedule", config},
                          dir() + "/schedule.log");
  EXPECT_EQ(from_file.wait_exit(), 0) << from_file.log();
  EXPECT_TRUE(std::regex_match(from_file.log(), std::regex(day + " 06:30 porch\n" + day +
                                                           " 22:00 every day 22:00: 2/all off\n")))
      << from_file.log();
}

}  // namespace
