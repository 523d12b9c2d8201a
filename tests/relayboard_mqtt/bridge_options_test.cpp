#include "bridge_options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "common/address_list.h"

namespace {

// The options as one line, so that a table row states all of them.
std::string describe(const BridgeOptionsResult& result) {
  if (const auto* error = std::get_if<OptionsError>(&result)) return "error: " + error->message;
  const auto& o = std::get<BridgeOptions>(result);
  return (o.port ? "port " + std::to_string(*o.port) : "device " + o.device.value_or("-")) +
         ", line " + o.line + ", boards " + address_list_text(o.addresses) + ", " + o.host + ':' +
         std::to_string(o.mqtt_port) + ", id " + o.client_id + (o.tls() ? ", tls" : "") +
         (o.mqtt_version == MqttVersion::v5 ? ", v5" : ", v3.1.1") + ", " + o.prefix + ", " +
         (o.discovery ? o.discovery_prefix : "no discovery") + (o.verbose ? ", verbose" : "");
}

// A folder for configuration and password files, removed afterwards.
struct BridgeOptionFiles : ::testing::Test {
  BridgeOptionFiles() {
    std::random_device seed;
    folder = std::filesystem::temp_directory_path() / ("relay_bridge_" + std::to_string(seed()));
    std::filesystem::create_directory(folder);
  }
  ~BridgeOptionFiles() override { std::filesystem::remove_all(folder); }
  std::string file(const std::string& name, const std::string& text) {
    const auto path = folder / name;
    std::ofstream(path, std::ios::binary) << text;
    // As a careful site keeps them: the password file is refused otherwise.
    std::filesystem::permissions(path, std::filesystem::perms(0600));
    return path.string();
  }
  std::filesystem::path folder;
};

TEST(BridgeOptions, CommandLinesGiveTheOptionsOrSayWhatIsWrong) {
  using Words = std::vector<std::string>;
  const std::string defaults_tail =
      ", boards 1, localhost:1883, id relayboard-mqtt-com1, v5, "
      "relayboard, homeassistant";
  const struct {
    Words words;
    std::string expected;
  } cases[] = {
      {{}, "port 1, line com1" + defaults_tail},
      {{"--device", "/dev/ttyUSB0"},
       "device /dev/ttyUSB0, line ttyUSB0, boards 1, localhost:1883, id relayboard-mqtt-ttyUSB0, "
       "v5, relayboard, homeassistant"},
      {{"--port=3", "--addresses", "7,1,3-5", "--line", "attic_2", "--client-id", "c"},
       "port 3, line attic_2, boards 1,3-5,7, localhost:1883, id c, v5, relayboard, homeassistant"},
      {{"--cafile", "/ca.pem", "--host=broker"},
       "port 1, line com1, boards 1, broker:8883, id relayboard-mqtt-com1, tls, v5, relayboard, "
       "homeassistant"},
      {{"--mqtt-port", "1884", "--cafile", "/ca.pem", "--certfile", "c", "--keyfile", "k"},
       "port 1, line com1, boards 1, localhost:1884, id relayboard-mqtt-com1, tls, v5, "
       "relayboard, homeassistant"},
      {{"--mqtt-version", "3.1.1", "--no-discovery", "--verbose", "--prefix", "site/relays"},
       "port 1, line com1, boards 1, localhost:1883, id relayboard-mqtt-com1, v3.1.1, "
       "site/relays, no discovery, verbose"},
      {{"--port", "0"}, "error: --port: \"0\" is not a port number"},
      {{"--port", "1", "--device", "/dev/ttyS0"},
       "error: --device: give either port or device, not both"},
      {{"--line", "a.b"}, "error: --line: \"a.b\" holds more than A-Z a-z 0-9 _ -"},
      {{"--device", "/dev/serial/usb.0"},
       "error: the device's name \"usb.0\" cannot name the line in topics: give --line"},
      {{"--prefix", "a/+"}, "error: --prefix: \"a/+\" is not a topic without wildcards"},
      {{"--mqtt-port", "65536"}, "error: --mqtt-port: \"65536\" is not a TCP port"},
      {{"--prefix", "\xE7\xAB\x99/relays", "--client-id", "caf\xC3\xA9"},
       "port 1, line com1, boards 1, localhost:1883, id caf\xC3\xA9, v5, \xE7\xAB\x99/relays, "
       "homeassistant"},
      {{"--prefix", "site\x1B[2J"},
       "error: --prefix: \"site\\u001b[2J\" holds a control character"},
      {{"--discovery-prefix", "ha\xC2\x9B"},
       "error: --discovery-prefix: \"ha\\u009b\" holds a control character"},
      {{"--client-id", "bridge\xFF"}, "error: --client-id: \"bridge\\xff\" is not UTF-8 text"},
      {{"--user", "\xED\xA0\x80"}, "error: --user: \"\\xed\\xa0\\x80\" is not UTF-8 text"},
      {{"--mqtt-version", "4"}, "error: --mqtt-version: \"4\" is neither 3.1.1 nor 5"},
      {{"--discovery-form", "Device"},
       "error: --discovery-form: \"Device\" is neither device nor entity"},
      {{"--button-pulse", "2 s"},
       "error: --button-pulse: \"2 s\" is not a duration from 10ms to 1h (write a number and a "
       "unit: ms, s, m or h (500ms, 1.5s, 2m, 1h))"},
      {{"--answer-timeout", "19"},
       "error: --answer-timeout: \"19\" is not a time in milliseconds from 20 to 10000"},
      {{"--log-max-events", "100"},
       "error: --log-max-events: \"100\" is not a number of events from 1000"},
      {{"--log-max-age", "2y"},
       "error: --log-max-age: \"2y\" is not an age in hours or days (48h, 90d) or none"},
      {{"--host"}, "error: --host needs a value"},
      {{"--verbose=1"}, "error: --verbose takes no value"},
      {{"--password"}, "error: unknown option --password (see --help)"},
      {{"attic"}, "error: unexpected argument \"attic\" (see --help)"},
      {{"--certfile", "c", "--keyfile", "k"},
       "error: --certfile and --keyfile go together, and with --cafile"},
      {{"--password-file", "p"}, "error: --password-file needs --user"},
      {{"--forget-line", "a/b"}, "error: --forget-line: \"a/b\" holds more than A-Z a-z 0-9 _ -"},
      {{"--client-id", std::string(1 << 20, 'c')},
       "error: --client-id: 1048576 bytes, longer than 65535"},
      {{"--line", std::string(1025, 'n')}, "error: --line: 1025 bytes, longer than 1024"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.words));
    EXPECT_EQ(describe(parse_bridge_options(c.words)), c.expected);
  }
  const auto bad_list = parse_bridge_options(Words{"--addresses", "1,256"});
  ASSERT_TRUE(std::holds_alternative<OptionsError>(bad_list));
  EXPECT_EQ(std::get<OptionsError>(bad_list).message.rfind("--addresses: ", 0), 0u);
  EXPECT_TRUE(std::get<BridgeOptions>(parse_bridge_options(Words{"--help", "--port=0"})).help);
  EXPECT_EQ(
      std::get<BridgeOptions>(parse_bridge_options(Words{"--forget-line", "old_1"})).forget_line,
      "old_1");
}

// Two hosts that serve a line of the same name must not share a client id.
TEST(BridgeOptions, TheDefaultClientIdCarriesTheHostsShortName) {
  const struct {
    std::string host;
    std::vector<std::string> words;
    std::string client_id;
  } cases[] = {
      {"pi4.site.lan", {}, "relayboard-mqtt-pi4-com1"},
      {"we ird_h\xC3\xA9st", {"--line", "n"}, "relayboard-mqtt-weirdhst-n"},
      {std::string(40, 'h'), {}, "relayboard-mqtt-" + std::string(32, 'h') + "-com1"},
      {".", {}, "relayboard-mqtt-com1"},
      {"pi4", {"--client-id", "mine"}, "mine"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    EXPECT_EQ(std::get<BridgeOptions>(parse_bridge_options(c.words, c.host)).client_id,
              c.client_id);
  }
}

TEST_F(BridgeOptionFiles, TheCommandLineOverridesTheConfigurationFile) {
  const std::string config = file("attic.conf",
                                  "\xEF\xBB\xBF# the attic's line\n"
                                  "device = /dev/ttyUSB1\r\n"
                                  "  addresses =  2-3 \n"
                                  "\n"
                                  "host = broker.lan\n"
                                  "verbose = yes\n"
                                  "discovery-form = entity\n"
                                  "button-pulse = 2.5s\n"
                                  "answer-timeout = 60\n"
                                  "json-state = true\n"
                                  "mqtt-port = 1884\n"
                                  "user = bridge\n"
                                  "web = localhost:8080\n"
                                  "web-users = /etc/web-users\n"
                                  "password-file = " +
                                      file("secret", "s3cret word\r\nsecond line\n"));
  const auto result = parse_bridge_options(
      std::vector<std::string>{"--config", config, "--port", "2", "--host=h2"});
  EXPECT_EQ(describe(result),
            "port 2, line com2, boards 2,3, h2:1884, id relayboard-mqtt-com2, v5, relayboard, "
            "homeassistant, verbose");
  ASSERT_TRUE(std::holds_alternative<BridgeOptions>(result));
  EXPECT_EQ(std::get<BridgeOptions>(result).password, "s3cret word");
  EXPECT_EQ(std::get<BridgeOptions>(result).user, "bridge");
  EXPECT_EQ(std::get<BridgeOptions>(result).discovery_form, DiscoveryForm::entity);
  EXPECT_EQ(std::get<BridgeOptions>(result).button_pulse, std::chrono::milliseconds(2500));
  EXPECT_EQ(std::get<BridgeOptions>(result).answer_timeout, std::chrono::milliseconds(60));
  EXPECT_TRUE(std::get<BridgeOptions>(result).json_state);
  EXPECT_EQ(std::get<BridgeOptions>(result).web, "localhost:8080");
  EXPECT_EQ(std::get<BridgeOptions>(result).web_users, "/etc/web-users");
}

// One entry per line in the file; entries on the command line replace them all.
TEST_F(BridgeOptionFiles, TimetableEntriesAreRepeatedLines) {
  const std::string config = file("b.conf",
                                  "schedule = at 06:00: 1/1 on   # the porch\n"
                                  "schedule = every day 22:00: 1/all off\n");
  const auto names = [](const BridgeOptionsResult& result) {
    std::vector<std::string> list;
    for (const auto& entry : std::get<BridgeOptions>(result).schedule) list.push_back(entry.name);
    return list;
  };
  EXPECT_EQ(names(parse_bridge_options(std::vector<std::string>{"--config", config})),
            (std::vector<std::string>{"at 06:00: 1/1 on", "every day 22:00: 1/all off"}));
  EXPECT_EQ(names(parse_bridge_options(
                std::vector<std::string>{"--config", config, "--schedule", "a: at 07:00: 1/2 on"})),
            std::vector<std::string>{"a"});
}

TEST_F(BridgeOptionFiles, ARefusedFileNamesItsLineAndKey) {
  const struct {
    std::string text;
    std::string error;  // after the file's path
  } cases[] = {
      {"host = x\nfrobnicate = 1\n", ":2: unknown key \"frobnicate\""},
      {"# fine\nmqtt-port = 99999\n", ":2: mqtt-port: \"99999\" is not a TCP port"},
      {"port = 1\ndevice = /dev/ttyS1\n", ":2: device: give either port or device, not both"},
      {"no-discovery = maybe", ":1: no-discovery: \"maybe\" is not true or false"},
      {"line\n", ":1: not a \"key = value\" line"},
      {"host =\n", ":1: host: needs a value"},
      {"config = other.conf\n", ":1: config: a file names no other file"},
      {"client-id = a\tb\n", ":1: client-id: \"a\\u0009b\" holds a control character"},
      {"host = a\n# b\nverbose = no\nhost = b\n", ":4: host: already set on line 1"},
      {"schedule = at 06:00: 1/1 on\nschedule = at 25:00: 1/1 on\n",
       ":2: schedule: \"25:00\" is not a time (HH:MM, 00:00 to 23:59)"},
      {"schedule = at 06:00: 2/1 on\naddresses = 1,3\n",
       ":1: schedule: board 2 is not served (addresses)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string config = file("bridge.conf", c.text);
    EXPECT_EQ(describe(parse_bridge_options(std::vector<std::string>{"--config", config})),
              "error: " + config + c.error);
  }
  const std::string missing = (folder / "missing.conf").string();
  EXPECT_EQ(describe(parse_bridge_options(std::vector<std::string>{"--config", missing})),
            "error: configuration file " + missing + ": cannot be read: No such file or directory");
}

TEST_F(BridgeOptionFiles, SecretsOthersCanReadAndEndlessFilesAreRefused) {
  using Words = std::vector<std::string>;
  const auto with_mode = [&](const std::string& name, unsigned mode) {
    const std::string path = file(name, "pw\n");
    std::filesystem::permissions(path, std::filesystem::perms(mode));
    return path;
  };
  const std::string own = with_mode("own", 0600), open = with_mode("open", 0644),
                    group = with_mode("group", 0640), shared = with_mode("shared", 0640);
  // A group may read what the administrator owns, and nothing of anyone else.
  const bool administrator = ::geteuid() == 0;
  if (administrator) {
    ASSERT_EQ(::chown(group.c_str(), 65534, static_cast<gid_t>(-1)), 0);
  }
  const std::string advice =
      "; let only its owner read it (chmod 600), or give "
      "--allow-readable-password-file";
  const std::string missing = (folder / "missing.crt").string();
  const struct {
    Words words;
    std::string expected;
  } cases[] = {
      {{"--user=u", "--password-file", own}, "password pw"},
      {{"--user=u", "--password-file", open},
       "error: password file " + open + ": readable by others (mode 0644)" + advice},
      {{"--user=u", "--password-file", group},
       "error: password file " + group + ": readable by its group (mode 0640)" + advice},
      {{"--user=u", "--password-file", shared},
       administrator
           ? "password pw"
           : "error: password file " + shared + ": readable by its group (mode 0640)" + advice},
      {{"--user=u", "--password-file", open, "--allow-readable-password-file"}, "password pw"},
      {{"--user=u", "--allow-readable-password-file", "--password-file", "/dev/zero"},
       "error: password file /dev/zero: not used: it is a device, not a file"},
      {{"--config", "/dev/zero"},
       "error: configuration file /dev/zero: not used: it is a device, not a file"},
      {{"--cafile", "/dev/zero"}, "error: cafile /dev/zero: larger than 4096 KiB"},
      {{"--cafile", own, "--certfile", missing, "--keyfile", own},
       "error: certfile " + missing + ": No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.words));
    const auto result = parse_bridge_options(c.words);
    std::optional<OptionsError> error;
    if (const auto* refused = std::get_if<OptionsError>(&result)) {
      error = *refused;
    } else {
      error = check_bridge_files(std::get<BridgeOptions>(result));
    }
    EXPECT_EQ(
        error ? "error: " + error->message : "password " + std::get<BridgeOptions>(result).password,
        c.expected);
  }
}

}  // namespace
