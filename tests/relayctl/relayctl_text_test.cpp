// relayctl's text, run as the program: the name file a first rename creates, names it
// refuses, and errors as JSON.
#include <gtest/gtest.h>

#include "file_bytes.h"
#include "relayctl_rig.h"

namespace {

class RelayctlText : public RelayctlRig {
 protected:
  RelayctlText() { link_port(1, board.device()); }
  std::string name_file() const { return read_bytes(dir() / "name.txt"); }
  // relayctl with argument bytes that QProcess could not pass: a shell's printf makes them.
  CtlResult run_shell(const QString& words) {
    QProcess process;
    process.start("/bin/sh", {"-c", "exec \"$0\" " + words, program});
    return finish(process);
  }
  TerminalBoard board;
};

TEST_F(RelayctlText, AFirstRenameCreatesTheNameFileAndMisleadingNamesAreRefused) {
  const CtlResult created = run({"rename", "5", "Pump"});
  EXPECT_EQ(created.code, 0) << created.err;
  EXPECT_EQ(created.err, "relayctl: " + (dir() / "name.txt").string() +
                             ": name file created with the default names\n");
  const std::string stored = name_file();
  EXPECT_NE(stored.find("[address 1]\r\nrelay1name=relay1\r\n"), std::string::npos);
  EXPECT_NE(stored.find("relay5name=Pump\r\nrelay6name=relay6\r\n"), std::string::npos);

  const std::string numbers =
      " reads as relay numbers (a number, a range such as 3-6, or all), "
      "so no command could name the relay by it.\n";
  const std::pair<CtlResult, std::string> refused[] = {
      {run({"rename", "6", "all"}), "\"all\"" + numbers},
      {run({"rename", "6", "3-6\n"}), "\"3-6\"" + numbers},
      {run_shell("rename 6 \"$(printf 'Pump\\351')\""),
       "it is not UTF-8 text. Give it in UTF-8 (a UTF-8 locale's terminal types it so).\n"},
  };
  for (const auto& [result, reason] : refused) {
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err, "relayctl: The name was not stored: " + reason);
  }
  EXPECT_EQ(name_file(), stored);
}

// Names from a file written elsewhere reach the terminal shown, in a table and in JSON:
// neither may retitle the window (ESC) or start a control sequence (U+009B).
TEST_F(RelayctlText, ControlsInNamesNeverReachTheTerminal) {
  write_names("\xEF\xBB\xBF[address 1]\r\nrelay2name=\x1b]0;\xC2\x9B[2J \"x\"\r\n");
  const CtlResult table = run({"names"});
  const CtlResult json = run({"--json", "names"});
  EXPECT_EQ(table.code, 0) << table.err;
  EXPECT_NE(table.out.find("\n    2  \\u001b]0;\\u009b[2J \"x\"\n"), std::string::npos)
      << table.out;
  EXPECT_EQ(json.code, 0) << json.err;
  EXPECT_NE(json.out.find(R"({"relay":2,"name":"\u001b]0;\u009b[2J \"x\""})"), std::string::npos)
      << json.out;
}

TEST_F(RelayctlText, EveryErrorIsOneJsonObjectWithTheExitStatus) {
  link_port(2, (dir() / "unplugged").string());
  struct Row {
    QStringList arguments;
    int code;
    std::string error;  // how the error's text starts
  };
  const Row rows[] = {
      {{"--port", "x", "status"}, 1, "--port x is not a port number\""},
      {{"open", "17"}, 1, "relay 17 does not exist: relays are 1 to 16\""},
      {{"rename", "5", "all"}, 1, "The name was not stored: \\\"all\\\" reads as relay"},
      {{"--port", "2", "status"}, 2, "Port 2 (" + (dir() / "com2").string()},
      {{"--timeout", "50", "status"}, 3, "the board did not answer"},
      {{"open", "5"}, 4, "relay 5 did not open"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arguments.join(' ').toStdString());
    board.silent = row.code == 3;
    board.deaf = row.code == 4;
    const CtlResult result = run(QStringList{"--json"} + row.arguments);
    EXPECT_EQ(result.code, row.code);
    EXPECT_TRUE(result.err.starts_with("{\"error\":\"" + row.error)) << result.err;
    EXPECT_TRUE(result.err.ends_with("\",\"exit\":" + std::to_string(row.code) + "}\n"));
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  }
}

}  // namespace
