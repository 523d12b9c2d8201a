#include "sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace {

// "help", "version", "port N" for parsed options, or the error text.
std::string parsed(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "relay_board_sim");
  const auto result = parse_sim_options(static_cast<int>(arguments.size()), arguments.data());
  if (const auto* error = std::get_if<std::string>(&result)) return *error;
  const auto& options = std::get<SimOptions>(result);
  std::string text = "port " + std::to_string(options.port);
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
      {{"--port", "3", "--version"}, "port 3 version"},
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
