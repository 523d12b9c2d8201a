#include "sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "common/address_list.h"

namespace {

// "port N", then the boards unless just board 1, the silent ones, "help", "version" for
// parsed options; or the error text.
std::string parsed(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "relay_board_sim");
  const auto result = parse_sim_options(static_cast<int>(arguments.size()), arguments.data());
  if (const auto* error = std::get_if<std::string>(&result)) return *error;
  const auto& options = std::get<SimOptions>(result);
  std::string text = "port " + std::to_string(options.port);
  if (options.addresses != std::vector<std::uint8_t>{1}) {
    text += " boards " + address_list_text(options.addresses);
  }
  if (!options.silent.empty()) text += " silent " + address_list_text(options.silent);
  if (options.help) text += " help";
  if (options.version) text += " version";
  return text;
}

}  // namespace

TEST(SimOptions, VersionAndHelpAnswerAndAMissingValueIsNamed) {
  struct Case {
    std::vector<const char*> arguments;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{"--version"}, "port 1 version"},
      {{"--port", "3", "-V"}, "port 3 version"},
      {{"--help"}, "port 1 help"},
      {{"--address"}, "option --address needs a value (try --help)"},
      {{"--verbose", "--link-dir"}, "option --link-dir needs a value (try --help)"},
      {{"--versions"}, "unknown option --versions (try --help)"},
      {{"--bogus", "1"}, "unknown option --bogus (try --help)"},
      {{"--port", "x"}, "option --port: \"x\" is not a port number from 1 to 32767"},
      {{"--mode-ms", "-1"}, "option --mode-ms: \"-1\" is not a time from 0 to 3600000 ms"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(parsed(c.arguments), c.expected);
  }
}

TEST(SimOptions, SeveralBoardsShareTheLineAndSomeOfThemMayBeSilent) {
  struct Case {
    std::vector<const char*> arguments;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{"--address", "7"}, "port 1 boards 7"},
      {{"--addresses", "5-7,1,3"}, "port 1 boards 1,3,5-7"},
      {{"--addresses", "1-3", "--address", "9"}, "port 1 boards 9"},
      {{"--addresses", "0-255"}, "port 1 boards 0-255"},
      {{"--addresses", "1,3,5", "--silent", "3"}, "port 1 boards 1,3,5 silent 3"},
      {{"--silent", "1"}, "port 1 silent 1"},
      {{"--addresses", "1,256"}, "option --addresses: \"256\": board addresses are 0 to 255"},
      {{"--addresses", "1,3", "--silent", "2"},
       "option --silent: board 2 is not on the line (see --addresses)"},
      {{"--silent", "x"},
       "option --silent: \"x\" is not a board address or a range of them (e.g. 1,3,5-7)"},
      {{"--addresses"}, "option --addresses needs a value (try --help)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(parsed(c.arguments), c.expected);
  }
}
