// The bridge daemon as a site runs it, against a real mosquitto and the virtual board on a
// pseudo-terminal: what it does when the broker restarts, comes late or hears of the
// bridge's death, when a board is unplugged or silent, when lines share a broker, and for
// each way of logging in to the broker.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>

#include "logged_process.h"
#include "mqtt_broker.h"
#include "mqtt_test_client.h"
#include "time_zone.h"

namespace {

constexpr auto deadline = std::chrono::seconds(30);  // generous: CI machines are loaded

// One serial line: the virtual board behind the link com<port> in the test folder, its
// frames logged, and the bridge that serves it.
struct Line {
  std::unique_ptr<LoggedProcess> board;
  std::unique_ptr<LoggedProcess> bridge;
  std::vector<std::string> bridge_options;  // to start it again

  // How many frames the board read that begin with `bytes` (hex, as its log writes them).
  int frames(const std::string& bytes) const { return board->log_count("<- " + bytes); }
  int polls() const { return frames("55 01 10 00 00 00 00 66"); }
  int switches() const { return frames("55 01 11") + frames("55 01 12") + frames("55 01 13"); }
};

class BridgeLifecycle : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const {
    return dir.filePath(QString::fromStdString(name)).toStdString();
  }

  Line& add_line(const std::string& name, const std::vector<std::string>& board_options = {},
                 const std::vector<std::string>& bridge_options = {}) {
    auto& line = lines.emplace_back(std::make_unique<Line>());
    const std::string port = std::to_string(lines.size());
    std::vector<std::string> options = {"--link-dir", dir.path().toStdString(), "--port", port,
                                        "--verbose"};
    options.insert(options.end(), board_options.begin(), board_options.end());
    line->board = std::make_unique<LoggedProcess>(RELAY_BOARD_SIM_PATH, options,
                                                  path(name + port + "-board.log"));
    EXPECT_TRUE(line->board->wait_for_log("/dev/")) << line->board->log();
    options = {"--device",    path("com" + port),
               "--line",      name,
               "--names",     path(name + "-names.txt"),
               "--host",      broker->host(),
               "--mqtt-port", std::to_string(broker->port())};
    options.insert(options.end(), bridge_options.begin(), bridge_options.end());
    line->bridge_options = options;
    line->bridge = std::make_unique<LoggedProcess>(RELAYBOARD_MQTT_PATH, options,
                                                   path(name + port + "-bridge.log"));
    return *line;
  }

  std::unique_ptr<MqttTestClient> watch(const MqttTestClient::Options& options = {}) {
    auto client = std::make_unique<MqttTestClient>(*broker, options);
    EXPECT_TRUE(client->connected()) << broker->log();
    EXPECT_TRUE(client->subscribe("relayboard/#"));
    EXPECT_TRUE(client->subscribe("homeassistant/#"));
    return client;
  }

  // The retained states of a board's 16 relays, relay 1 first: 1 ON, 0 OFF, ? none.
  static std::string states(const MqttTestClient& client, const std::string& board) {
    std::string shown;
    for (int relay = 1; relay <= 16; ++relay) {
      const auto state =
          client.retained("relayboard/" + board + "/" + std::to_string(relay) + "/state");
      shown += !state ? '?' : *state == "ON" ? '1' : *state == "OFF" ? '0' : '!';
    }
    return shown;
  }
  static ::testing::AssertionResult shows(const MqttTestClient& client, const std::string& board,
                                          const std::string& expected) {
    if (eventually([&] { return states(client, board) == expected; }, deadline))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << board << " shows " << states(client, board);
  }
  static bool retained(const MqttTestClient& client, const std::string& topic,
                       const std::string& payload) {
    return eventually([&] { return client.retained(topic) == payload; }, deadline);
  }

  void TearDown() override {
    if (HasFailure()) {
      for (const auto& line : lines) std::cerr << line->bridge->log();
      std::cerr << broker->log();
    }
  }

  QTemporaryDir dir;
  std::unique_ptr<MqttBroker> broker = std::make_unique<MqttBroker>();
  std::vector<std::unique_ptr<Line>> lines;
};

class BrokerRestart : public BridgeLifecycle, public ::testing::WithParamInterface<bool> {};

// Without a store the broker comes back empty and the bridge alone brings the retained
// topics back; with one (as most sites run it) it brings back the old ones as well.
TEST_P(BrokerRestart, BringsBackStatesAndDiscoveryAndSwitchesNothing) {
  MqttBroker::Options options;
  options.persistence = GetParam();
  broker = std::make_unique<MqttBroker>(options);
  Line& line = add_line("north");
  auto client = watch();
  ASSERT_TRUE(retained(*client, "relayboard/north/1/status", "online"));
  ASSERT_TRUE(client->publish("relayboard/north/1/3/set", "ON"));
  ASSERT_TRUE(shows(*client, "north/1", "0010000000000000"));
  EXPECT_EQ(line.frames("55 01 12 00 00 00 03 6B"), 1);

  ASSERT_TRUE(broker->restart()) << broker->error();
  client = watch();
  EXPECT_TRUE(retained(*client, "relayboard/north/status", "online"));
  EXPECT_TRUE(retained(*client, "relayboard/north/1/status", "online"));
  EXPECT_TRUE(shows(*client, "north/1", "0010000000000000"));
  EXPECT_TRUE(eventually(
      [&] { return !client->messages("homeassistant/device/relayboard_north_1/config").empty(); },
      deadline));
  EXPECT_EQ(line.bridge->log_count("connected to broker"), 2);
  // Polled on after the reconnect, the board got no switch frame from it.
  const int polls = line.polls();
  ASSERT_TRUE(eventually([&] { return line.polls() >= polls + 10; }, deadline));
  EXPECT_EQ(line.switches(), 1);
}

INSTANTIATE_TEST_SUITE_P(Broker, BrokerRestart, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "stored" : "unstored"; });

TEST_F(BridgeLifecycle, ABrokerThatComesLateFindsTheBoardPolledAllAlong) {
  broker->stop();
  Line& line = add_line("north");
  ASSERT_TRUE(line.bridge->wait_for_log("not reached"));
  ASSERT_TRUE(eventually([&] { return line.polls() >= 20; }, deadline));
  ASSERT_TRUE(broker->start()) << broker->error();
  auto client = watch();
  EXPECT_TRUE(retained(*client, "relayboard/north/status", "online"));
  EXPECT_TRUE(retained(*client, "relayboard/north/1/status", "online"));
  EXPECT_TRUE(shows(*client, "north/1", "0000000000000000"));
}

// A "catch up" entry missed while the bridge was down runs once at its start, with the
// broker away; the next start finds it settled in the state folder and leaves it.
TEST_F(BridgeLifecycle, AMissedEntryCatchesUpOnceAtStartWithTheBrokerAway) {
  using namespace std::chrono;
  broker->stop();
  const TimeZoneScope zone("UTC");  // the bridge's too
  const auto now = system_clock::now();
  const auto minute = floor<minutes>(now - 1h).time_since_epoch().count() % (24 * 60);
  char entry[40];
  std::snprintf(entry, sizeof entry, "at %02d:%02d: 1/3 on, catch up",
                static_cast<int>(minute / 60), static_cast<int>(minute % 60));
  std::ofstream(path("schedule-north.txt"))
      << "settled = " << floor<seconds>(now - 2h).time_since_epoch().count() << '\n';
  Line& line = add_line("north", {}, {"--schedule", entry});
  ASSERT_TRUE(eventually([&] { return line.frames("55 01 12 00 00 00 03 6B") == 1; }, deadline));
  line.bridge->signal(SIGTERM);
  ASSERT_EQ(line.bridge->wait_exit(), 0);
  line.bridge = std::make_unique<LoggedProcess>(RELAYBOARD_MQTT_PATH, line.bridge_options,
                                                path("north-again.log"));
  ASSERT_TRUE(line.bridge->wait_for_log("board 1 online"));
  const int polls = line.polls();
  ASSERT_TRUE(eventually([&] { return line.polls() >= polls + 20; }, deadline));
  EXPECT_EQ(line.switches(), 1);
}

TEST_F(BridgeLifecycle, ABridgeKilledLeavesItsLastWillOffline) {
  Line& line = add_line("north");
  auto client = watch();
  ASSERT_TRUE(retained(*client, "relayboard/north/status", "online"));
  line.bridge->kill();
  EXPECT_TRUE(retained(*client, "relayboard/north/status", "offline"));
}

TEST_F(BridgeLifecycle, AnUnpluggedBoardGoesOfflineAndComesBackWithItsStates) {
  Line& line = add_line("north");
  auto client = watch();
  ASSERT_TRUE(retained(*client, "relayboard/north/1/status", "online"));
  ASSERT_TRUE(client->publish("relayboard/north/1/5/set", "ON"));
  ASSERT_TRUE(shows(*client, "north/1", "0000100000000000"));
  for (int replug = 0; replug < 2; ++replug) {
    SCOPED_TRACE("replug " + std::to_string(replug));
    line.board->signal(SIGUSR1);
    EXPECT_TRUE(retained(*client, "relayboard/north/1/status", "offline"));
    client->clear();
    const int plugged = line.board->log_count("/dev/");
    line.board->signal(SIGUSR2);
    ASSERT_TRUE(line.board->wait_for_log("/dev/", plugged + 1));
    EXPECT_TRUE(retained(*client, "relayboard/north/1/status", "online"));
    // Every state said again on the first answers, and the same as before.
    EXPECT_TRUE(eventually(
        [&] { return client->messages("relayboard/north/1/+/state").size() >= 16; }, deadline));
    EXPECT_EQ(states(*client, "north/1"), "0000100000000000");
  }
  EXPECT_EQ(line.switches(), 1);
}

TEST_F(BridgeLifecycle, ASilentBoardLeavesItsNeighbourOnTheLineOnline) {
  Line& line = add_line("north", {"--addresses", "1,2", "--silent", "2"}, {"--addresses", "1,2"});
  auto client = watch();
  ASSERT_TRUE(retained(*client, "relayboard/north/1/status", "online"));
  EXPECT_TRUE(retained(*client, "relayboard/north/2/status", "offline"));
  // Board 1 still takes commands beside its silent neighbour.
  ASSERT_TRUE(client->publish("relayboard/north/1/all/set", "ON"));
  EXPECT_TRUE(shows(*client, "north/1", "1111111111111111"));
  EXPECT_TRUE(eventually([&] { return line.frames("55 01 13 00 00 FF FF 67") == 1; }, deadline));
  // Offline until its first answer, then online for good.
  const auto statuses = client->messages("relayboard/north/1/status");
  const auto first_online = std::find_if(statuses.begin(), statuses.end(), [](const auto& status) {
    return status.payload == "online";
  });
  for (auto status = first_online; status != statuses.end(); ++status)
    EXPECT_EQ(status->payload, "online");
  EXPECT_EQ(client->retained("relayboard/north/2/status"), "offline");
}

TEST_F(BridgeLifecycle, ThreeLinesShareOneBroker) {
  // The line that takes the command speaks MQTT 3.1.1, the others 5 (the broker's log
  // says p2 and p5).
  const std::array<std::string, 3> names = {"north", "south", "east"};
  for (const auto& name : names) {
    add_line(name, {},
             name == "south" ? std::vector<std::string>{"--mqtt-version", "3.1.1"}
                             : std::vector<std::string>{});
  }
  auto client = watch();
  for (const auto& name : names) {
    ASSERT_TRUE(retained(*client, "relayboard/" + name + "/1/status", "online")) << name;
    ASSERT_TRUE(shows(*client, name + "/1", "0000000000000000"));
    const std::string version = name == "south" ? "(p2," : "(p5,";
    // The default client id: relayboard-mqtt-<host>-<line>.
    EXPECT_NE(broker->log().find("-" + name + " " + version), std::string::npos) << broker->log();
  }
  ASSERT_TRUE(client->publish("relayboard/south/1/2/set", "ON"));
  EXPECT_TRUE(shows(*client, "south/1", "0100000000000000"));
  EXPECT_EQ(lines[1]->switches(), 1);
  EXPECT_EQ(lines[0]->switches() + lines[2]->switches(), 0);
  EXPECT_EQ(states(*client, "north/1") + states(*client, "east/1"), std::string(32, '0'));
}

TEST_F(BridgeLifecycle, ASecondBridgeForALineRefusesItNamingTheFirst) {
  Line& first = add_line("north", {}, {"--client-id", "north-at-mill"});
  auto client = watch();
  ASSERT_TRUE(retained(*client, "relayboard/north/1/status", "online"));
  EXPECT_TRUE(retained(*client, "relayboard/north/client", "north-at-mill"));
  ASSERT_TRUE(shows(*client, "north/1", "0000000000000000"));
  client->clear();
  // Another host's line of the same name, with its own board.
  Line& second = add_line("north", {}, {"--client-id", "north-at-barn"});
  EXPECT_EQ(second.bridge->wait_exit(), 2) << second.bridge->log();
  EXPECT_EQ(second.bridge->log_count(
                "line north is served by the client \"north-at-mill\" (online): not served twice"),
            1);
  // It said nothing on the line but its question; the first serves on.
  for (const auto& seen : client->messages("relayboard/north/#")) {
    EXPECT_EQ(seen.topic + '=' + seen.payload + (seen.retained ? " retained" : ""),
              "relayboard/north/client=north-at-barn");
  }
  ASSERT_TRUE(client->publish("relayboard/north/1/3/set", "ON"));
  EXPECT_TRUE(shows(*client, "north/1", "0010000000000000"));
  EXPECT_EQ(first.switches() * 10 + second.switches(), 10);
}

// A bridge killed leaves its boards' statuses online (only its own status has a last
// will): the next start says them offline before the bridge is online again.
TEST_F(BridgeLifecycle, AfterAKillTheRestartSaysTheBoardsOfflineFirst) {
  Line& line = add_line("north");
  auto client = watch();
  ASSERT_TRUE(retained(*client, "relayboard/north/1/status", "online"));
  line.bridge->kill();
  ASSERT_TRUE(retained(*client, "relayboard/north/status", "offline"));
  line.board->signal(SIGUSR1);  // unplugged while no bridge watched
  client->clear();
  line.bridge = std::make_unique<LoggedProcess>(RELAYBOARD_MQTT_PATH, line.bridge_options,
                                                path("north-again.log"));
  ASSERT_TRUE(retained(*client, "relayboard/north/status", "online"));
  std::vector<std::string> statuses;
  for (const auto& seen : client->messages("relayboard/north/#")) {
    if (seen.topic.ends_with("status")) statuses.push_back(seen.topic + '=' + seen.payload);
  }
  ASSERT_GE(statuses.size(), 2u);
  EXPECT_EQ(statuses[0], "relayboard/north/1/status=offline");
  EXPECT_EQ(statuses[1], "relayboard/north/status=online");
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "relayboard/north/1/status=online"), 0);
}

TEST_F(BridgeLifecycle, ForgetLineClearsALineNoLongerServedAndNothingElse) {
  Line& north = add_line("north");
  add_line("south");
  auto client = watch();
  // The retained topics of a line, its boards' and its bridge's discovery documents among
  // them.
  const auto of_line = [&](const std::string& name) {
    std::map<std::string, std::string> found;
    for (const auto& [topic, payload] : client->retained()) {
      if (topic.starts_with("relayboard/" + name + "/") ||
          (topic.starts_with("homeassistant/") &&
           topic.find("relayboard_" + name + "_") != std::string::npos))
        found[topic] = payload;
    }
    return found;
  };
  const auto forget = [&](const std::string& log) {
    return std::make_unique<LoggedProcess>(
        RELAYBOARD_MQTT_PATH,
        std::vector<std::string>{"--forget-line", "north", "--host", broker->host(), "--mqtt-port",
                                 std::to_string(broker->port())},
        path(log));
  };
  for (const auto* name : {"north", "south"}) {
    ASSERT_TRUE(shows(*client, std::string(name) + "/1", "0000000000000000"));
    // States, the device document, the statuses, the client id and the info.
    ASSERT_TRUE(eventually([&] { return of_line(name).size() >= 16 + 1 + 4; }, deadline));
  }
  auto refused = forget("forget-refused.log");
  EXPECT_EQ(refused->wait_exit(), 2);
  EXPECT_EQ(refused->log_count("line north is served by the client"), 1) << refused->log();

  north.bridge->signal(SIGTERM);
  ASSERT_EQ(north.bridge->wait_exit(), 0);
  ASSERT_TRUE(retained(*client, "relayboard/north/status", "offline"));
  const std::size_t count = of_line("north").size();
  const auto south = of_line("south");
  auto forgetting = forget("forget.log");
  EXPECT_EQ(forgetting->wait_exit(), 0) << forgetting->log();
  EXPECT_EQ(
      forgetting->log_count("line north: " + std::to_string(count) + " retained topics cleared"), 1)
      << forgetting->log();
  EXPECT_TRUE(eventually([&] { return of_line("north").empty(); }, deadline));
  EXPECT_EQ(of_line("south"), south);
}

TEST_F(BridgeLifecycle, APasswordFileOthersCanReadIsRefusedForGood) {
  std::ofstream(path("password")) << "two words\n";
  std::filesystem::permissions(path("password"), std::filesystem::perms(0644));
  Line& line = add_line("north", {}, {"--user", "panel", "--password-file", path("password")});
  // 2: the unit does not start it again until the file is mended.
  EXPECT_EQ(line.bridge->wait_exit(), 2);
  EXPECT_EQ(line.bridge->log_count("relayboard-mqtt: password file " + path("password") +
                                   ": readable by others (mode 0644);"),
            1);
  EXPECT_EQ(broker->log().find("-north "), std::string::npos) << broker->log();
}

// A fault in rules.conf stops the start with its file:line and exit status 2, which the
// packaged unit does not restart; nothing reaches the board.
TEST_F(BridgeLifecycle, ARulesFaultEndsTheStartForGood) {
  std::ofstream(path("rules.conf"))
      << "[address 1]   # the motor\non_start = off\non_start = 3 on\n";
  Line& line = add_line("north");
  ASSERT_TRUE(line.bridge->wait_for_log(path("rules.conf") + ":3: on_start: already set on line 2"))
      << line.bridge->log();
  EXPECT_EQ(line.bridge->wait_exit(), 2);
  EXPECT_EQ(line.switches(), 0);
}

// The state folder may be one that every user can write (as a shared name file's is):
// what another user plants there changes nothing that the bridge does (the event log's
// own cases are relayctl's and the log's). A timetable memory of theirs owes no catch-up run; a
// rules.conf that is a link to nothing keeps the line closed rather than counting as no rules.
TEST_F(BridgeLifecycle, WhatAnotherUserPlantsInTheStateFolderIsNotUsed) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user takes the administrator";
  using namespace std::chrono;
  const TimeZoneScope zone("UTC");  // the bridge's too
  const auto minute = floor<minutes>(system_clock::now() - 1h).time_since_epoch().count() % 1440;
  char entry[40];
  std::snprintf(entry, sizeof entry, "at %02d:%02d: 1/3 on, catch up",
                static_cast<int>(minute / 60), static_cast<int>(minute % 60));
  const std::string not_used = ": not used: ";
  const struct {
    const char* label;
    std::function<void()> plant;
    std::string logged;
    bool serves;
    mode_t folder_mode = 01777;
  } cases[] = {
      {"another user's timetable memory",
       [&] {
         std::ofstream(path("schedule-north.txt"))
             << "settled = " << floor<seconds>(system_clock::now() - 2h).time_since_epoch().count()
             << '\n';
         ::chown(path("schedule-north.txt").c_str(), 65534, 65534);
       },
       path("schedule-north.txt") + not_used +
           "it belongs to another user, who may have put it there; the timetable starts afresh",
       true},
      {"another user's owed switches",
       [&] {
         std::ofstream(path("owed-north.txt")) << "pulse = 1 5 off 0 0\n";
         ::chown(path("owed-north.txt").c_str(), 65534, 65534);
       },
       path("owed-north.txt") + not_used +
           "it belongs to another user, who may have put it there; what the line owed starts "
           "afresh",
       true},
      {"rules.conf a link to nothing",
       [&] { std::filesystem::create_symlink("gone.conf", path("rules.conf")); },
       path("rules.conf") + not_used + "it is a symbolic link to a file that does not exist", false,
       0755},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    lines.clear();
    broker = std::make_unique<MqttBroker>();  // no retained state of the case before
    for (const char* file : {"schedule-north.txt", "owed-north.txt", "events.db", "rules.conf",
                             "north1-board.log", "north1-bridge.log"}) {
      std::filesystem::remove(path(file));
    }
    ::chmod(dir.path().toLocal8Bit().constData(), c.folder_mode);
    c.plant();
    Line& line = add_line("north", {}, {"--schedule", entry});
    ASSERT_TRUE(line.bridge->wait_for_log(c.logged)) << line.bridge->log();
    if (!c.serves) {
      EXPECT_EQ(line.bridge->wait_exit(), 2);  // not started again by the unit
      EXPECT_EQ(line.switches(), 0);
      continue;
    }
    auto client = watch();
    ASSERT_TRUE(retained(*client, "relayboard/north/1/status", "online"));
    ASSERT_TRUE(client->publish("relayboard/north/1/5/set", "ON"));
    ASSERT_TRUE(eventually([&] { return line.frames("55 01 12 00 00 00 05 6D") == 1; }, deadline));
    // No catch-up run: relay 3 was never asked for; no owed end switched relay 5 off.
    EXPECT_EQ(line.frames("55 01 12 00 00 00 03 6B"), 0);
    EXPECT_EQ(line.frames("55 01 11 00 00 00 05 6C"), 0);
  }
}

// The ways a bridge logs in to a broker that asks for a password or a client certificate.
struct Login {
  const char* name;
  MqttBroker::Options broker;
  const char* password_file;  // null: no --user and --password-file
  bool certificate;           // --certfile and --keyfile
  const char* refusal;        // what the log says each time; null: accepted
};

void PrintTo(const Login& login, std::ostream* out) {
  *out << login.name;
}

class BridgeLogin : public BridgeLifecycle, public ::testing::WithParamInterface<Login> {};

TEST_P(BridgeLogin, IsAcceptedOrRetriedWithoutACrash) {
  const Login& login = GetParam();
  broker = std::make_unique<MqttBroker>(login.broker);
  ASSERT_TRUE(broker->running()) << broker->error();
  std::vector<std::string> options;
  if (login.password_file) {
    std::ofstream(path("password")) << login.password_file;
    std::filesystem::permissions(path("password"), std::filesystem::perms::owner_read);
    options = {"--user", login.broker.user, "--password-file", path("password")};
  }
  if (login.broker.tls) options.insert(options.end(), {"--cafile", broker->ca_file()});
  if (login.certificate)
    options.insert(options.end(),
                   {"--certfile", broker->client_cert(), "--keyfile", broker->client_key()});
  Line& line = add_line("north", {}, options);
  MqttTestClient::Options watcher;
  watcher.user = login.broker.user;
  watcher.password = login.broker.password;
  auto client = watch(watcher);
  if (login.refusal) {
    // Refused, told, tried again; the board polled all the while.
    EXPECT_TRUE(line.bridge->wait_for_log(login.refusal, 2));
    const int polls = line.polls();
    EXPECT_TRUE(eventually([&] { return line.polls() >= polls + 10; }, deadline));
    EXPECT_TRUE(line.bridge->running());
    EXPECT_EQ(client->messages("relayboard/#").size(), 0u);
    return;
  }
  ASSERT_TRUE(retained(*client, "relayboard/north/1/status", "online"));
  ASSERT_TRUE(client->publish("relayboard/north/1/16/set", "ON"));
  EXPECT_TRUE(shows(*client, "north/1", "0000000000000001"));
}

MqttBroker::Options broker_options(const char* user, const char* password, bool tls) {
  MqttBroker::Options options;
  options.user = user;
  options.password = password;
  options.tls = options.require_certificate = tls;
  return options;
}
const MqttBroker::Options password_broker = broker_options("panel", "two words", false);
const MqttBroker::Options certificate_broker = broker_options("", "", true);
MqttBroker::Options broker_elsewhere() {
  MqttBroker::Options options = broker_options("", "", true);
  options.require_certificate = false;
  options.server_names = "DNS:broker.example";
  return options;
}

INSTANTIATE_TEST_SUITE_P(
    Broker, BridgeLogin,
    ::testing::Values(Login{"password", password_broker, "two words\n", false, nullptr},
                      Login{"wrong_password", password_broker, "guess\n", false,
                            "not reached (refused: Not authorized); trying again"},
                      Login{"client_certificate", certificate_broker, nullptr, true, nullptr},
                      // The broker's refusal reaches the client as a lost connection or
                      // as a protocol error, as the handshake's timing falls.
                      Login{"no_client_certificate", certificate_broker, nullptr, false,
                            "not reached ("},
                      Login{"certificate_for_another_host", broker_elsewhere(), nullptr, false,
                            "not reached (the broker's certificate is not made out to 127.0.0.1 "
                            "(IP address mismatch)); trying again"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
