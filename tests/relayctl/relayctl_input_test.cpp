// What relayctl makes of its command line and its relay words, before any port is
// touched; and the change lines of a watch.
#include <gtest/gtest.h>

#include <array>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "ctl_command_help.h"
#include "ctl_options.h"
#include "ctl_output.h"
#include "relay_selection.h"

namespace {

using std::chrono::milliseconds;

TEST(RelayWords, SelectNumbersRangesAllAndNamesOrSayWhyNot) {
  RelayNames names{};
  for (int relay = 1; relay <= relay_count; ++relay)
    names[relay - 1] = "relay" + std::to_string(relay);
  names[4] = "Pump";
  names[6] = "Fan";
  names[7] = "Fan";
  struct Row {
    std::vector<std::string> words;
    RelayMask mask;
    std::string message;  // empty: selected
  };
  const Row rows[] = {
      {{"5"}, 0x0010, ""},
      {{"1", "16"}, 0x8001, ""},
      {{"3-6"}, 0x003C, ""},
      {{"16-16"}, 0x8000, ""},
      {{"all"}, 0xFFFF, ""},
      {{"Pump", "2"}, 0x0012, ""},
      {{"relay9"}, 0x0100, ""},
      {{"0"}, 0, "relay 0 does not exist: relays are 1 to 16"},
      {{"17"}, 0, "relay 17 does not exist: relays are 1 to 16"},
      {{"5", "99999999999"}, 0, "relay 99999999999 does not exist: relays are 1 to 16"},
      {{"6-3"}, 0, "the range 6-3 runs backwards; write it lowest first"},
      {{"3-17"}, 0, "relay 17 does not exist: relays are 1 to 16"},
      {{"pump"}, 0, "no relay is named \"pump\" at this address"},
      {{"Fan"}, 0, "more than one relay is named \"Fan\"; use their numbers"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words.front());
    const auto selected = select_relays(row.words, &names);
    if (row.message.empty()) {
      ASSERT_TRUE(std::holds_alternative<RelayMask>(selected)) << std::get<std::string>(selected);
      EXPECT_EQ(std::get<RelayMask>(selected), row.mask);
    } else {
      ASSERT_TRUE(std::holds_alternative<std::string>(selected));
      EXPECT_EQ(std::get<std::string>(selected), row.message);
    }
  }
  const auto without_file = select_relays(std::vector<std::string>{"Pump"}, nullptr);
  EXPECT_EQ(std::get<std::string>(without_file),
            "no relay is named \"Pump\": there is no name file");
}

std::variant<CtlOptions, std::string> parse(std::vector<const char*> words) {
  words.insert(words.begin(), "relayctl");
  return parse_ctl_options(static_cast<int>(words.size()), words.data());
}

TEST(CommandLine, RefusesWhatIsNoCommandWithOneLine) {
  const std::pair<std::vector<const char*>, std::string> rows[] = {
      {{}, "no command given"},
      {{"stat"}, "'stat' is not a command. Did you mean 'status'?"},
      {{"opne", "5"}, "'opne' is not a command. Did you mean 'open'?"},
      {{"--help", "Lgo"}, "'Lgo' is not a command. Did you mean 'log'?"},
      {{"can"}, "'can' is not a command. Did you mean 'scan'?"},
      {{"frobnicate"}, "'frobnicate' is not a command"},
      {{"--address", "256", "status"}, "address 256 does not exist: board addresses are 0 to 255"},
      {{"--address", "-1", "status"}, "address -1 does not exist: board addresses are 0 to 255"},
      {{"--address", "x", "status"}, "address x does not exist: board addresses are 0 to 255"},
      {{"--port", "COM1", "status"}, "--port COM1 is not a port number"},
      {{"--port", "1", "--device", "/dev/ttyUSB0", "status"},
       "give either --port or --device, not both"},
      {{"--timeout", "0", "status"}, "--timeout 0 is not a time in milliseconds from 1 to 600000"},
      {{"status", "--timeout"}, "option --timeout needs a value"},
      {{"--colour", "status"}, "unknown option --colour"},
      {{"open"}, "open takes relays (R...)"},
      {{"status", "5"}, "status takes no arguments"},
      {{"pulse", "5"}, "pulse takes a relay and a duration (R DURATION)"},
      {{"pulse", "5", "500"},
       "500 is not a duration: write a number and a unit: ms, s, m or h (500ms, 1.5s, 2m, 1h), "
       "up to 24h"},
      {{"pulse", "5", "-0.5s"},
       "-0.5s is not a duration: a duration takes no sign; write a number and a unit: ms, s, m "
       "or h (500ms, 1.5s, 2m, 1h), up to 24h"},
      {{"--json=yes", "status"}, "option --json takes no value"},
      {{"--colour=red", "status"}, "unknown option --colour"},
      {{"rename", "5"}, "rename takes a relay and its new name (R TEXT)"},
      {{"--inverse", "open", "5"}, "--inverse is for pulse only"},
      {{"--address", "1,256", "status"}, "--address \"256\": board addresses are 0 to 255"},
      {{"--address", "3-1", "watch"}, "--address \"3-1\" is a range from high to low"},
      {{"--address", "1,3", "open", "5"}, "several addresses are for status and watch only"},
      {{"--from", "3", "status"}, "--from and --to are for scan only"},
      {{"--from", "9", "--to", "3", "scan"}, "--from 9 is above --to 3"},
      {{"--to", "256", "scan"}, "--to 256 is not a board address from 0 to 255"},
      {{"scan", "5"}, "scan takes no arguments"},
      {{"--since", "2h", "status"}, "--since, --relay and --csv are for log only"},
      {{"--relay", "1/17", "log"},
       "--relay 1/17 is not a board (0 to 255) or a board's relay (1/7)"},
      {{"--relay", "256", "log"}, "--relay 256 is not a board (0 to 255) or a board's relay (1/7)"},
      {{"--csv", "--json", "log"}, "give either --json or --csv, not both"},
      {{"--port", "3", "log"}, "log reads this machine's event log: it takes no port or --broker"},
  };
  for (const auto& [words, message] : rows) {
    SCOPED_TRACE(message);
    const auto parsed = parse(words);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
    EXPECT_EQ(std::get<std::string>(parsed), message);
  }
}

TEST(CommandLine, TakesOptionsAnywhereAndTextAfterDoubleDash) {
  const auto parsed = parse({"pulse", "--address", "07", "5", "--inverse", "2s", "--json",
                             "--timeout", "50", "--names", "n.txt", "--device", "/dev/ttyUSB0"});
  ASSERT_TRUE(std::holds_alternative<CtlOptions>(parsed)) << std::get<std::string>(parsed);
  const auto& options = std::get<CtlOptions>(parsed);
  EXPECT_EQ(options.command, CtlCommand::Pulse);
  EXPECT_EQ(options.arguments, (std::vector<std::string>{"5", "2s"}));
  EXPECT_EQ(options.address_text, "07");  // as the panel's box keeps it: section "address 07"
  EXPECT_TRUE(options.inverse);
  EXPECT_TRUE(options.json);
  EXPECT_EQ(options.timeout, milliseconds(50));
  EXPECT_EQ(options.names_file, std::filesystem::path("n.txt"));
  EXPECT_EQ(options.device, "/dev/ttyUSB0");

  const auto short_and_joined = parse({"-V", "--port=3", "--names=a=b.txt", "status", "-h"});
  ASSERT_TRUE(std::holds_alternative<CtlOptions>(short_and_joined));
  const auto& joined = std::get<CtlOptions>(short_and_joined);
  EXPECT_TRUE(joined.help && joined.version);
  EXPECT_EQ(joined.port_text, "3");
  EXPECT_EQ(joined.names_file, std::filesystem::path("a=b.txt"));

  const auto rename = parse({"rename", "5", "--", "--not-an-option"});
  ASSERT_TRUE(std::holds_alternative<CtlOptions>(rename));
  EXPECT_EQ(std::get<CtlOptions>(rename).arguments,
            (std::vector<std::string>{"5", "--not-an-option"}));
}

// Each command's help is asked either way round, and its example is a command line
// that relayctl takes for that command.
TEST(CommandLine, EachCommandsHelpGivesAnExampleThatParses) {
  for (const char* name : {"status", "open", "close", "pulse", "watch", "names", "rename", "scan",
                           "lines", "log", "schedule"}) {
    SCOPED_TRACE(name);
    const auto asked = parse({name, "--help"});
    ASSERT_TRUE(std::holds_alternative<CtlOptions>(asked));
    const CtlOptions& options = std::get<CtlOptions>(asked);
    EXPECT_TRUE(options.command_help && std::get<CtlOptions>(parse({"-h", name})).command_help);
    const std::string help = ctl_command_usage(options.command);
    const auto example = help.find("\nExample:\n  relayctl ");
    ASSERT_TRUE(help.starts_with("Usage: relayctl ") && example != std::string::npos) << help;
    std::istringstream line(help.substr(example + 21));
    std::vector<std::string> words{std::istream_iterator<std::string>(line), {}};
    EXPECT_NE(std::find(words.begin(), words.end(), name), words.end()) << help;
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    const auto parsed = parse(argv);
    ASSERT_TRUE(std::holds_alternative<CtlOptions>(parsed)) << std::get<std::string>(parsed);
    EXPECT_EQ(std::get<CtlOptions>(parsed).command, options.command);
  }
}

TEST(WatchLines, ShowEachChangeOnceInRelayOrderWithItsTime) {
  using namespace std::chrono;
  const sys_time<milliseconds> at = sys_days{2026y / 12 / 7} + 19h + 42min + 3s + 120ms;
  ChangeLines lines;
  std::array<IndicatorState, relay_count> shown{};
  shown.fill(IndicatorState::Unknown);
  EXPECT_EQ(lines.take(shown, false, at), "");
  shown.fill(IndicatorState::Closed);
  shown[11] = IndicatorState::Opened;
  const std::string first = lines.take(shown, false, at);
  EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 16);
  EXPECT_NE(first.find("\n2026-12-07T19:42:03.120Z relay 12 opened\n"), std::string::npos);
  EXPECT_EQ(lines.take(shown, false, at), "");
  shown[2] = IndicatorState::Opened;
  shown[11] = IndicatorState::Closed;
  EXPECT_EQ(lines.take(shown, true, sys_days{2000y / 2 / 29} + 86'399'999ms),
            "{\"time\":\"2000-02-29T23:59:59.999Z\",\"relay\":3,\"state\":\"opened\"}\n"
            "{\"time\":\"2000-02-29T23:59:59.999Z\",\"relay\":12,\"state\":\"closed\"}\n");
  shown[2] = IndicatorState::Idle;  // a closed port: unknown to a script
  EXPECT_EQ(lines.take(shown, false, at), "2026-12-07T19:42:03.120Z relay 3 unknown\n");
}

// A name file from another machine must not drive the terminal: text output escapes
// what JSON escapes, and JSON escapes DEL and C1 too.
TEST(Text, ControlsAreEscapedForTheTerminalAndInJson) {
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {"\x1b\xc2\x9b\"\xff", "\\u001b\\u009b\"\\xff", "\"\\u001b\\u009b\\\"\xef\xbf\xbd\""},
  };
  for (const auto& [text, shown, json] : rows) {
    RelayNames names{};
    names[1] = text;
    EXPECT_EQ(names_text(names), "    1\n    2  " + shown +
                                     "\n    3\n    4\n    5\n    6\n    7\n    8\n    9\n"
                                     "   10\n   11\n   12\n   13\n   14\n   15\n   16\n");
    const std::string status = status_json(1, 0x0002, &names);
    EXPECT_NE(status.find(R"({"relay":2,"state":"opened","name":)" + json + "},"),
              std::string::npos)
        << status;
    EXPECT_EQ(error_line(text, 1, true), "{\"error\":" + json + ",\"exit\":1}\n");
  }
  // Error lines echo the command line: its controls are escaped too.
  EXPECT_EQ(error_line("unknown command \x1b[2J\r", 1, false),
            "relayctl: unknown command \\u001b[2J\\u000d\n");
  EXPECT_EQ(notice_line("no relay is named \"\x9b\"", false),
            "relayctl: no relay is named \"\\x9b\"\n");
  RelayNames names{};
  names[0] = "\x1b[2J";
  EXPECT_TRUE(names_text(names).starts_with("    1  \\u001b[2J\n    2\n"));
}

// A refused command line still answers in JSON when it asks for it.
TEST(CommandLine, AsksForJsonEvenWhenRefused) {
  const std::pair<std::vector<const char*>, bool> rows[] = {
      {{"--bogus", "--json"}, true},
      {{"--timeout=5", "--json"}, true},
      {{"--names", "--json", "status"}, false},
      {{"rename", "5", "--", "--json"}, false},
  };
  for (auto [words, json] : rows) {
    words.insert(words.begin(), "relayctl");
    EXPECT_EQ(json_asked(static_cast<int>(words.size()), words.data()), json) << words[1];
  }
}

TEST(RelayWords, ThoseReadAsNumbersAreNoNames) {
  for (const char* word : {"all", "5", "17", "3-6", "6-3"}) EXPECT_TRUE(reads_as_relays(word));
  for (const char* word : {"All", "5a", "-5", "3-", "3-6-9", ""})
    EXPECT_FALSE(reads_as_relays(word));
}

}  // namespace
