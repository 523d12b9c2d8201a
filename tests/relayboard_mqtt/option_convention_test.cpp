// The option words every program shares, and the relayctl.conf that relayctl reads from
// the per-user folder: the real programs, with what they print.
#include <filesystem>
#include <fstream>

#include "bridge_rig.h"

namespace {

// A folder of the test's own, gone with it.
struct TempDir {
  QTemporaryDir temp;
  std::string path() const { return temp.path().toStdString(); }
};

struct Run {
  int code;
  std::string output;  // stdout and stderr together
};

Run run(const std::string& program, const std::vector<std::string>& arguments,
        const std::string& log) {
  LoggedProcess process(program, arguments, log);
  return {process.wait_exit().value_or(-1), process.log()};
}

TEST(OptionConvention, EveryProgramSpellsVersionVerboseAndHelpAlike) {
  const TempDir dir;
  const struct {
    const char* program;
    std::vector<std::string> arguments;
    std::string starts;  // the output's start
    std::string holds;   // and something in it
  } cases[] = {
      {RELAYCTL_PATH, {"-V"}, "relayctl ", ""},
      {RELAYCTL_PATH, {"--version"}, "relayctl ", ""},
      {RELAYCTL_PATH, {"-h"}, "", "  -v, --verbose "},
      {RELAYCTL_PATH, {"-v", "--help"}, "", "  -V, --version "},
      {RELAYBOARD_MQTT_PATH, {"-V"}, "relayboard-mqtt " RELAYBOARD_MQTT_VERSION "\n", ""},
      {RELAYBOARD_MQTT_PATH, {"-v", "--version"}, "relayboard-mqtt ", ""},
      {RELAYBOARD_MQTT_PATH, {"--help"}, "", "  -v, --verbose "},
      {RELAY_BOARD_SIM_PATH, {"-V"}, "relay_board_sim ", ""},
      {RELAY_BOARD_SIM_PATH, {"-h"}, "", "  -v, --verbose "},
  };
  int count = 0;
  for (const auto& c : cases) {
    const Run done = run(c.program, c.arguments, dir.path() + "/" + std::to_string(++count));
    SCOPED_TRACE(std::string(c.program) + " " + c.arguments.front());
    EXPECT_EQ(done.code, 0) << done.output;
    EXPECT_TRUE(done.output.starts_with(c.starts)) << done.output;
    EXPECT_NE(done.output.find(c.holds), std::string::npos) << done.output;
  }
}

// relayctl.conf beside the names (relay_panel), else in the folder's earlier spelling;
// -v tells which was read. A comment after a value is taken, a key given twice is not.
TEST(OptionConvention, RelayctlReadsItsConfigurationBesideTheNames) {
  const TempDir dir;
  const std::string bridge = dir.path() + "/bridge.conf";
  std::ofstream(bridge) << "schedule = at 06:30: 1/3 on\n";
  const auto place = [&](const std::string& folder, const std::string& text) {
    std::filesystem::create_directories(dir.path() + "/" + folder);
    std::ofstream(dir.path() + "/" + folder + "/relayctl.conf") << text;
    return dir.path() + "/" + folder + "/relayctl.conf";
  };
  const std::string earlier = place("old/relay-panel", "broker = mqtt://h  # the hall\n");
  const std::string both = place("both/relay_panel", "broker = mqtt://h\n");
  place("both/relay-panel", "broker = mqtt://old\n");
  const std::string twice = place("twice/relay_panel", "broker = mqtt://h\nbroker = mqtt://i\n");
  const struct {
    const char* home;
    int code;
    std::string starts;
  } cases[] = {
      {"old", 0, "relayctl: settings from " + earlier + "\n"},
      {"both", 0, "relayctl: settings from " + both + "\n"},
      {"twice", 1,
       "relayctl: settings from " + twice + "\nrelayctl: " + twice +
           ":2: broker: already set on line 1 (see relayctl --help)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.home);
    const Run done = run(
        "env",
        {"XDG_CONFIG_HOME=" + dir.path() + "/" + c.home, RELAYCTL_PATH, "-v", "schedule", bridge},
        dir.path() + "/" + c.home + ".log");
    EXPECT_EQ(done.code, c.code) << done.output;
    EXPECT_TRUE(done.output.starts_with(c.starts)) << done.output;
  }
}

}  // namespace
