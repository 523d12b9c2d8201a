// The option words every program shares, and relayctl.conf in the per-user folder beside
// the names (relay_panel), else in its earlier spelling (relay-panel); -v names it.
#include <filesystem>

#include "bridge_rig.h"

namespace {

TEST(OptionConvention, EveryProgramSpellsVersionVerboseAndHelpAlike) {
  const QTemporaryDir temp;
  const std::string dir = temp.path().toStdString();
  const auto place = [&](const std::string& folder, const std::string& text) {
    std::filesystem::create_directories(dir + "/" + folder);
    std::ofstream(dir + "/" + folder + "/relayctl.conf") << text;
    return dir + "/" + folder + "/relayctl.conf";
  };
  std::ofstream(dir + "/bridge.conf") << "schedule = at 06:30: 1/3 on\n";
  const std::string old = place("old/relay-panel", "broker = mqtt://h  # the hall\n");
  const std::string both = place("both/relay_panel", "broker = mqtt://h\n");
  place("both/relay-panel", "broker = mqtt://old\n");
  const std::string twice = place("twice/relay_panel", "broker = mqtt://h\nbroker = mqtt://i\n");
  const std::vector<std::string> schedule = {"-v", "schedule", dir + "/bridge.conf"};
  const struct {
    const char* program;
    std::vector<std::string> arguments;
    const char* home;
    int code;
    std::string starts;  // the output's start, stdout and stderr together
    std::string holds;   // and something in it
  } cases[] = {
      {RELAYCTL_PATH, {"-V"}, "", 0, "relayctl ", ""},
      {RELAYCTL_PATH, {"-h"}, "", 0, "", "  -v, --verbose "},
      {RELAYBOARD_MQTT_PATH, {"-V"}, "", 0, "relayboard-mqtt " RELAYBOARD_MQTT_VERSION "\n", ""},
      {RELAYBOARD_MQTT_PATH, {"-v", "--help"}, "", 0, "", "  -v, --verbose "},
      {RELAY_BOARD_SIM_PATH, {"-V"}, "", 0, "relay_board_sim ", ""},
      {RELAY_BOARD_SIM_PATH, {"-h"}, "", 0, "", "  -v, --verbose "},
      {RELAYCTL_PATH, schedule, "old", 0, "relayctl: settings from " + old + "\n", ""},
      {RELAYCTL_PATH, schedule, "both", 0, "relayctl: settings from " + both + "\n", ""},
      {RELAYCTL_PATH, schedule, "twice", 1, "relayctl: settings from " + twice + "\n",
       "relayctl: " + twice + ":2: broker: already set on line 1 (see relayctl --help)\n"},
  };
  int count = 0;
  for (const auto& c : cases) {
    std::vector<std::string> words = {"XDG_CONFIG_HOME=" + dir + "/" + c.home, c.program};
    words.insert(words.end(), c.arguments.begin(), c.arguments.end());
    LoggedProcess process("env", words, dir + "/" + std::to_string(++count) + ".log");
    SCOPED_TRACE(std::string(c.program) + " " + c.arguments.front() + " " + c.home);
    EXPECT_EQ(process.wait_exit(), c.code) << process.log();
    EXPECT_TRUE(process.log().starts_with(c.starts)) << process.log();
    EXPECT_NE(process.log().find(c.holds), std::string::npos) << process.log();
  }
}

}  // namespace
