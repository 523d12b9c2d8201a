// relayctl.exe under Wine against the virtual board as COM1: what it prints, the frames
// it sends, and its exit status, each from a real cause.
#include <gtest/gtest.h>
#include <signal.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "board_frames.h"
#include "file_bytes.h"
#include "qt_events.h"
#include "windows_program.h"

namespace {

using Frames = std::vector<std::string>;
const std::string query = "55 01 10 00 00 00 00 66";

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

class RelayctlExe : public ::testing::Test {
 protected:
  RelayctlExe() : program(install_program("relayctl.exe", temp.path().toStdString())) {}

  // Unless a case gives its own, an answer may take ten seconds on a loaded machine.
  std::unique_ptr<WindowsProgram> start(const QStringList& arguments) {
    const QStringList patient = QStringList{"--timeout", "10000"} + arguments;
    return std::make_unique<WindowsProgram>(program,
                                            arguments.contains("--timeout") ? arguments : patient);
  }
  Result run(const QStringList& arguments) { return finish(*start(arguments)); }
  static Result finish(WindowsProgram& process) {
    Result result{process.finish(), {}, {}};
    result.out = process.out;
    for (const auto& line : process.lines()) result.err += line + "\n";
    return result;
  }

  QTemporaryDir temp;
  std::filesystem::path program;
};

// The help offers what this build does: TLS to a broker (OpenSSL is built in), and the
// log command exactly when the log is kept.
TEST_F(RelayctlExe, TheHelpOffersWhatTheBuildCanDo) {
  const std::string help = without_cr(run({"--help"}).out);
  EXPECT_NE(help.find("mqtts://HOST[:PORT]"), std::string::npos);
  EXPECT_NE(help.find("--cafile FILE"), std::string::npos);
  const Result log = run({"log"});
  const bool kept = log.err.find("not available in this build") == std::string::npos;
  EXPECT_EQ(help.find("\n  log  ") != std::string::npos, kept) << log.err;
}

TEST_F(RelayctlExe, EachExitStatusFromItsCause) {
  const struct {
    QStringList board;
    QStringList arguments;
    int code;
    std::string err;  // the whole error output, or its start for the lines that end in a reason
    std::optional<Frames> frames;  // none where the count depends on the machine's speed
  } rows[] = {
      {{}, {"open", "5"}, 0, "", Frames{query, "55 01 12 00 00 00 05 6D", query}},
      {{}, {"frobnicate"}, 1, "relayctl: 'frobnicate' is not a command", Frames{}},
      {{}, {"--port", "7", "status"}, 2, "relayctl: Port 7 (COM7) could not be opened: ", Frames{}},
      {{"--mode", "silent"},
       {"--timeout", "100", "status"},
       3,
       "relayctl: the board did not answer within 100 ms (3 tries) on COM1\n",
       Frames{query, query, query}},
      {{"--mode", "late", "--delay-ms", "300"},
       {"--timeout", "100", "status"},
       3,
       "relayctl: the board answered late: ",
       std::nullopt},
      {{"--mode", "deaf-switch"},
       {"open", "5", "6"},
       4,
       "relayctl: relays 5, 6 did not open (the board still reports closed)\n",
       Frames{query, "55 01 12 00 00 00 05 6D", "55 01 12 00 00 00 06 6E", query}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arguments.join(' ').toStdString());
    LoggedBoard board(row.board);
    const Result result = run(row.arguments);
    EXPECT_EQ(result.code, row.code);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.substr(0, row.err.size()), row.err);
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), row.code == 0 ? 0 : 1)
        << result.err;
    if (row.frames) {
      EXPECT_EQ(board.take_frames(), *row.frames);
    }
  }
}

TEST_F(RelayctlExe, StatusAsATableAndAsJsonWithTheNames) {
  write_bytes(temp.path().toStdString() + "/name.txt", "[address 1]\r\nrelay2name=Pump\r\n");
  LoggedBoard board;
  const Result opened = run({"open", "2"});
  ASSERT_EQ(opened.code, 0) << opened.err;
  const Result table = run({"status"});
  EXPECT_EQ(table.code, 0) << table.err;
  std::string expected = "relay  state   name\n";
  for (int relay = 1; relay <= 16; ++relay) {
    expected += (relay < 10 ? "    " : "   ") + std::to_string(relay) +
                (relay == 2 ? "  opened  Pump\n" : "  closed\n");
  }
  EXPECT_EQ(table.out, expected);

  const Result json = run({"status", "--json"});
  EXPECT_EQ(json.code, 0) << json.err;
  QJsonParseError error;
  const QJsonObject status =
      QJsonDocument::fromJson(QByteArray::fromStdString(json.out), &error).object();
  ASSERT_EQ(error.error, QJsonParseError::NoError) << json.out;
  EXPECT_EQ(status["address"].toInt(), 1);
  const QJsonArray relays = status["relays"].toArray();
  ASSERT_EQ(relays.size(), 16);
  for (int relay = 1; relay <= 16; ++relay) {
    const QJsonObject entry = relays[relay - 1].toObject();
    EXPECT_EQ(entry["relay"].toInt(), relay);
    EXPECT_EQ(entry["state"].toString(), relay == 2 ? "opened" : "closed");
    EXPECT_EQ(entry["name"].toString(), relay == 2 ? "Pump" : "");
  }
  EXPECT_EQ(board.take_frames(), (Frames{query, "55 01 12 00 00 00 02 6A", query, query, query}));
}

TEST_F(RelayctlExe, PulseHoldsItsTimeAndCtrlCCutsItShortWithTheRelayBack) {
  LoggedBoard board;
  const Result pulse = run({"pulse", "3", "300ms"});
  EXPECT_EQ(pulse.code, 0) << pulse.err;
  EXPECT_EQ(board.take_frames(),
            (Frames{query, "55 01 12 00 00 00 03 6B", "55 01 11 00 00 00 03 6A", query}));
  ASSERT_EQ(board.arrivals.size(), 4u);
  const auto held = board.arrivals[2] - board.arrivals[1];
  EXPECT_GE(held, std::chrono::milliseconds(300));
  EXPECT_LT(held, std::chrono::seconds(10));
  RecordProperty(
      "held_ms",
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(held).count()));

  // Wine hands a SIGINT to the program as Ctrl+C.
  auto long_pulse = start({"pulse", "5", "60s"});
  ASSERT_TRUE(wait_until([&] { return board.count() >= 6; }, 30000));
  ::kill(static_cast<pid_t>(long_pulse->processId()), SIGINT);
  const Result cut = finish(*long_pulse);
  EXPECT_EQ(cut.code, 5);
  EXPECT_TRUE(cut.err.starts_with("relayctl: the pulse was cut short after ") &&
              cut.err.ends_with(" of 60000 ms: relay 5 is closed again\n"))
      << cut.err;
  EXPECT_EQ(board.take_frames(),
            (Frames{query, "55 01 12 00 00 00 05 6D", "55 01 11 00 00 00 05 6C", query}));
}

}  // namespace
