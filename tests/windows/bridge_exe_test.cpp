// relayboard-mqtt.exe under Wine: the virtual board behind COM1 and a real mosquitto
// here; the frames the board receives, what the bridge publishes, and how it leaves.
#include <gtest/gtest.h>
#include <signal.h>

#include <QTemporaryDir>
#include <ctime>
#include <fstream>

#include "board_frames.h"
#include "logged_process.h"
#include "mqtt_broker.h"
#include "mqtt_test_client.h"
#include "qt_events.h"
#include "windows_program.h"
#include "wine_session.h"

namespace {

using Frames = std::vector<std::string>;

class BridgeExe : public ::testing::Test {
 protected:
  BridgeExe() : program(install_program("relayboard-mqtt.exe", temp.path().toStdString())) {
    EXPECT_TRUE(broker.start()) << broker.error();
    EXPECT_TRUE(watcher.subscribe("#"));
  }
  std::string dir() const { return temp.path().toStdString(); }
  // A loaded machine's Wine may take longer than the default 40 ms to hand an answer over.
  std::unique_ptr<WindowsProgram> start(const QStringList& extra = {}) {
    const QStringList options{"--port",           "1",
                              "--names",          QString::fromStdString(dir() + "/name.txt"),
                              "--host",           QString::fromStdString(broker.host()),
                              "--mqtt-port",      QString::number(broker.port()),
                              "--answer-timeout", "500",
                              "--verbose"};
    return std::make_unique<WindowsProgram>(program, options + extra);
  }
  // The switches the board received since the last call, its status queries left out.
  std::vector<std::string> switches(LoggedBoard& board) {
    for (const std::string& frame : board.take_frames()) {
      if (frame.substr(0, 8) != "55 01 10") seen.push_back(frame);
    }
    return seen;
  }
  bool wait_switches(LoggedBoard& board, std::size_t count) {
    return wait_until([&] { return switches(board).size() >= count; }, 30000);
  }
  static std::string log(WindowsProgram& program) {
    std::string text;
    for (const auto& line : program.lines()) text += line + "\n";
    return text;
  }
  static std::string topic(const std::string& rest) { return "relayboard/com1/" + rest; }
  // relayboard-mqtt.exe --forget-line com1: its exit status, what it said.
  std::pair<int, std::string> forget_com1() {
    WindowsProgram forgetting(
        program, {"--forget-line", "com1", "--host", QString::fromStdString(broker.host()),
                  "--mqtt-port", QString::number(broker.port())});
    const int status = forgetting.finish();
    return {status, log(forgetting) + forgetting.out};
  }

  QTemporaryDir temp;
  std::filesystem::path program;
  MqttBroker broker;
  MqttTestClient watcher{broker};
  std::vector<std::string> seen;
};

// One bridge for the whole table, each row a command from the broker: the frames at the
// board, the result message; a retained command is refused without a frame.
TEST_F(BridgeExe, CommandsReachTheBoardAndTheirResultsTheBroker) {
  LoggedBoard board;
  auto bridge = start();
  ASSERT_TRUE(watcher.wait_for_payload(topic("1/status"), "online"));
  ASSERT_TRUE(watcher.wait_for_payload(topic("1/16/state"), "OFF"));
  const struct {
    std::string rest;
    std::string payload;
    bool retain;
    std::string result;  // the start of its result field
    Frames frames;       // all the switches so far
  } rows[] = {
      {"1/3/set", "ON", false, R"("result":"done")", {"55 01 12 00 00 00 03 6B"}},
      {"1/5/set", "ON", true, R"("result":"refused")", {"55 01 12 00 00 00 03 6B"}},
      {"1/4/pulse",
       "300ms",
       false,
       R"("result":"done")",
       {"55 01 12 00 00 00 03 6B", "55 01 12 00 00 00 04 6C", "55 01 11 00 00 00 04 6B"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.rest + " " + row.payload);
    watcher.clear();
    ASSERT_TRUE(watcher.publish(topic(row.rest), row.payload, row.retain));
    const auto result = watcher.wait_for(topic("1/result"), [](const auto&) { return true; });
    ASSERT_TRUE(result);
    EXPECT_NE(result->payload.find(row.result), std::string::npos)
        << result->payload << log(*bridge);
    if (row.retain) {
      ASSERT_TRUE(watcher.publish(topic(row.rest), "", true));
    }
    wait_switches(board, row.frames.size());
    EXPECT_EQ(switches(board), row.frames);
  }
  EXPECT_TRUE(watcher.wait_for_payload(topic("1/4/state"), "OFF"));
  EXPECT_EQ(forget_com1().first, 2);
  // A pulse cut short by Ctrl+C (which Wine hands over as a SIGINT): its end goes out
  // before the bridge leaves, and the broker hears it offline.
  ASSERT_TRUE(watcher.publish(topic("1/6/pulse"), "60s"));
  ASSERT_TRUE(wait_switches(board, 4));
  watcher.clear();
  ::kill(static_cast<pid_t>(bridge->processId()), SIGINT);
  EXPECT_EQ(bridge->finish(), 0);
  EXPECT_EQ(switches(board).back(), "55 01 11 00 00 00 06 6D");
  EXPECT_TRUE(watcher.wait_for_payload(topic("status"), "offline"));
  // The switches went to the event log beside the name file.
  EXPECT_EQ(log(*bridge).find("no event log"), std::string::npos) << log(*bridge);
  EXPECT_GT(std::filesystem::file_size(dir() + "/events.db"), 0u);
  // No bridge serves com1 now: what it left on the broker is cleared.
  const auto [status, said] = forget_com1();
  EXPECT_EQ(status, 0) << said;
  EXPECT_NE(said.find("retained topics cleared"), std::string::npos) << said;
  EXPECT_TRUE(wait_until(
      [&] {
        for (const auto& [topic, payload] : watcher.retained())
          if (topic.starts_with("relayboard/com1/")) return false;
        return true;
      },
      30000));
}

// A password file that others may read is refused by both programs that take one, its
// access list named (Wine shows mode 0644 as readable by Everyone).
TEST_F(BridgeExe, APasswordFileOthersMayReadIsRefused) {
  std::ofstream(dir() + "/open.pw") << "secret\n";
  std::filesystem::permissions(dir() + "/open.pw", std::filesystem::perms(0644));
  const QStringList password{"--user", "panel", "--password-file",
                             QString::fromStdString(dir() + "/open.pw")};
  const QString url = QString::fromStdString("mqtt://" + broker.host() + ":1");
  // relayctl's usage errors exit 1, the bridge's 2.
  WindowsProgram bridge(program, password + QStringList{"--port", "1"});
  WindowsProgram ctl(install_program("relayctl.exe", dir()),
                     password + QStringList{"--broker", url, "--line", "com9", "status"});
  for (auto [process, status] : {std::pair{&bridge, 2}, std::pair{&ctl, 1}}) {
    EXPECT_EQ(process->finish(), status);
    const std::string said = log(*process) + process->out;
    EXPECT_NE(said.find("readable by Everyone (its access list); let only its owner"),
              std::string::npos)
        << said;
  }
}

// A "catch up" entry an hour ago, after a run that settled the timetable two hours ago:
// the past comes from the timetable's memory, so the entry runs once at the start, in
// the Windows time zone that Wine takes from this machine.
TEST_F(BridgeExe, AMissedTimetableEntryCatchesUpAtStart) {
  using namespace std::chrono;
  LoggedBoard board;
  const auto now = system_clock::now();
  const std::time_t hour_ago = system_clock::to_time_t(now - 1h);
  std::tm local{};
  localtime_r(&hour_ago, &local);
  char entry[40];
  std::snprintf(entry, sizeof entry, "at %02d:%02d: 1/7 on, catch up", local.tm_hour, local.tm_min);
  std::ofstream(dir() + "/schedule-com1.txt")
      << "settled = " << floor<seconds>(now - 2h).time_since_epoch().count() << '\n';
  auto bridge = start({"--schedule", entry});
  EXPECT_TRUE(wait_switches(board, 1)) << log(*bridge);
  EXPECT_EQ(switches(board), Frames{"55 01 12 00 00 00 07 6F"});
  ::kill(static_cast<pid_t>(bridge->processId()), SIGINT);
  EXPECT_EQ(bridge->finish(), 0);
}

// The Linux bridge serves the line com1: the Windows one says so, leaves with 2 and
// sends nothing to the board.
TEST_F(BridgeExe, ALineServedByALinuxBridgeIsNotServedTwice) {
  LoggedBoard board;
  LoggedProcess linux_bridge(RELAYBOARD_MQTT_PATH,
                             {"--device", "/dev/null", "--line", "com1", "--host", broker.host(),
                              "--mqtt-port", std::to_string(broker.port())},
                             dir() + "/linux.log");
  ASSERT_TRUE(watcher.wait_for_payload(topic("status"), "online")) << linux_bridge.log();
  watcher.clear();
  auto bridge = start();
  EXPECT_EQ(bridge->finish(), 2);
  bool named = false;
  for (const auto& line : bridge->lines())
    named |= line.find("not served twice") != std::string::npos;
  EXPECT_TRUE(named);
  EXPECT_EQ(switches(board), Frames{});
}

// The bridge as a service of Wine's service manager: installed (a bad option refused
// first), started, serving the line; a service stop ends a 60 s pulse on the wire before
// the service reports STOPPED, and the broker hears it offline; removed, the service and
// its event source are gone.
TEST_F(BridgeExe, RunsAsAServiceUntilTheServiceManagerStopsIt) {
  const auto system32 = WineSession::get().prefix / "drive_c/windows/system32";
  const auto data = WineSession::get().prefix / "drive_c/ProgramData/relayboard-mqtt";
  const std::string name = "relayboard-mqtt-com1";
  const auto run = [&](const std::filesystem::path& exe, const QStringList& arguments) {
    WindowsProgram process(exe, arguments);
    const int status = process.finish();
    return std::pair{status, log(process) + process.out};
  };
  const auto state = [&] { return run(system32 / "sc.exe", {"query", "relayboard-mqtt-com1"}); };
  const QString source =
      R"(HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\relayboard-mqtt)";
  run(program, {"--remove-service", "com1"});  // left by an interrupted run
  std::filesystem::remove_all(data);
  struct Removal {
    std::function<void()> remove;
    ~Removal() { remove(); }
  } removal{[&] { run(program, {"--remove-service", "com1"}); }};

  LoggedBoard board;
  // A configuration named from the installing folder: the service, started in the
  // system's folder, finds it all the same.
  std::ofstream(dir() + "/bridge.conf") << "answer-timeout = 500\n";
  const QStringList options{"--port",      "1",
                            "--host",      QString::fromStdString(broker.host()),
                            "--mqtt-port", QString::number(broker.port()),
                            "--config",    "bridge.conf"};
  const struct {
    QStringList arguments;
    int status;
    std::string said;
  } installs[] = {
      {QStringList{"--install-service", "com1", "--bogus"} + options, 2,
       "relayboard-mqtt: unknown option --bogus"},
      {QStringList{"--install-service", "com1"} + options, 0,
       "relayboard-mqtt: installed service " + name + "\n"},
      {QStringList{"--install-service", "com1"} + options, 1,
       "relayboard-mqtt: cannot install service " + name + ": already installed\n"},
  };
  for (const auto& row : installs) {
    const auto [status, said] = run(program, row.arguments);
    EXPECT_EQ(status, row.status) << said;
    EXPECT_TRUE(said.starts_with(row.said)) << said;
  }
  EXPECT_EQ(run(system32 / "reg.exe", {"query", source}).first, 0);
  ASSERT_EQ(run(system32 / "sc.exe", {"start", QString::fromStdString(name)}).first, 0);
  ASSERT_TRUE(watcher.wait_for_payload(topic("1/status"), "online")) << state().second;

  ASSERT_TRUE(watcher.publish(topic("1/6/pulse"), "60s"));
  ASSERT_TRUE(wait_switches(board, 1));
  watcher.clear();
  EXPECT_EQ(run(system32 / "sc.exe", {"stop", QString::fromStdString(name)}).first, 0);
  std::string stopped;
  EXPECT_TRUE(wait_until(
      [&] { return (stopped = state().second).find("STOPPED") != std::string::npos; }, 30000));
  EXPECT_EQ(switches(board), (Frames{"55 01 12 00 00 00 06 6E", "55 01 11 00 00 00 06 6D"}));
  EXPECT_NE(stopped.find("WIN32_EXIT_CODE    : 0 "), std::string::npos) << stopped;
  EXPECT_TRUE(watcher.wait_for_payload(topic("status"), "offline"));
  // Its names came from the service's own folder, which others may not open (Wine
  // keeps the folder's access list as the file's mode).
  EXPECT_TRUE(std::filesystem::exists(data / "name.txt"));
  EXPECT_EQ(std::filesystem::status(data).permissions() & std::filesystem::perms::others_all,
            std::filesystem::perms::none);

  const struct {
    int status;
    std::string said;
  } removals[] = {
      {0, "relayboard-mqtt: removed service " + name + "\n"},
      {1, "relayboard-mqtt: cannot remove service " + name + ": not installed\n"},
  };
  for (const auto& row : removals) {
    const auto [status, said] = run(program, {"--remove-service", "com1"});
    EXPECT_EQ(status, row.status) << said;
    EXPECT_EQ(said, row.said);
  }
  EXPECT_NE(state().first, 0);
  EXPECT_NE(run(system32 / "reg.exe", {"query", source}).first, 0);
}

}  // namespace
