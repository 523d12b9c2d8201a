// relayctl against several boards on one line: the virtual board serving addresses 1, 3,
// 5, 6 and 7, of which 6 never answers.
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>

#include "board_process.h"
#include "qt_events.h"
#include "relayctl_rig.h"

namespace {

// A board's relays as status --json prints them, without names.
std::string board_json(int address, RelayMask opened) {
  std::string json = "{\"address\":" + std::to_string(address) + ",\"relays\":[";
  for (int relay = 1; relay <= 16; ++relay) {
    if (relay > 1) json += ',';
    json += "{\"relay\":" + std::to_string(relay) + ",\"state\":\"" +
            ((opened & relay_bit(relay)) ? "opened" : "closed") + "\"}";
  }
  return json + "]}\n";
}

// The sixteen words of a board's states, relay 1 first.
std::string state_words(RelayMask opened) {
  std::string words;
  for (int relay = 1; relay <= 16; ++relay) {
    words += (relay == 1 ? " " : ", ") + std::to_string(relay) +
             ((opened & relay_bit(relay)) ? " opened" : " closed");
  }
  return words;
}

class RelayctlOnBus : public RelayctlRig {
 protected:
  CtlResult on_line(QStringList arguments) {
    return run(QStringList{"--device", line.device} + arguments);
  }
  BoardProcess line{{"--addresses", "1,3,5-7", "--silent", "6"}};
};

TEST_F(RelayctlOnBus, ScanListsExactlyTheBoardsThatAnswer) {
  ASSERT_FALSE(line.device.isEmpty());
  const CtlResult text = on_line({"--timeout", "1000", "scan", "--from", "1", "--to", "7"});
  EXPECT_EQ(text.code, 0) << text.err;
  EXPECT_EQ(text.out, "1\n3\n5\n7\n");
  EXPECT_EQ(text.err, "") << "no progress line where nobody watches";

  const CtlResult json =
      on_line({"--timeout", "1000", "--json", "scan", "--from", "5", "--to", "7"});
  EXPECT_EQ(json.code, 0) << json.err;
  EXPECT_EQ(json.out, "{\"addresses\":[5,7]}\n");

  const CtlResult none = on_line({"--timeout", "100", "scan", "--from", "8", "--to", "9"});
  EXPECT_EQ(none.code, 3);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, "relayctl: no board answered at addresses 8 to 9 on " +
                          line.device.toStdString() + "\n");
}

// A slow board's answer, come after its timeout, is never credited to the next address.
TEST_F(RelayctlOnBus, ScanCreditsNoLateAnswerToTheNextAddress) {
  BoardProcess slow{{"--address", "1", "--mode", "late", "--delay-ms", "150"}};
  ASSERT_FALSE(slow.device.isEmpty());
  const CtlResult scan =
      run({"--device", slow.device, "--timeout", "100", "scan", "--from", "1", "--to", "2"});
  EXPECT_EQ(scan.code, 3) << scan.out;
  EXPECT_EQ(scan.out, "");
}

// By default each address gets the line's short window: a board a little slower than
// that is still found at its own address, a much slower one at none, never at the next.
TEST_F(RelayctlOnBus, AQuickScanCreditsASlowBoardToNoOtherAddress) {
  const struct {
    const char* delay_ms;
    std::string found;
  } rows[] = {{"35", "2\n3\n5\n"}, {"90", "2\n5\n"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.delay_ms);
    BoardProcess slow{{"--addresses", "2,3,5", "--slow", "3", "--delay-ms", row.delay_ms}};
    ASSERT_FALSE(slow.device.isEmpty());
    QProcess process;  // not run(): its patient --timeout would make the scan wait for 3
    process.start(program, {"--device", slow.device, "scan", "--from", "0", "--to", "7"});
    const CtlResult scan = finish(process);
    EXPECT_EQ(scan.code, 0) << scan.err;
    EXPECT_EQ(scan.out, row.found);
  }
}

TEST_F(RelayctlOnBus, StatusOfSeveralBoardsIsALinePerBoardAndExitThreeForTheSilentOne) {
  ASSERT_FALSE(line.device.isEmpty());
  const CtlResult opened = on_line({"--address", "5", "open", "2"});
  ASSERT_EQ(opened.code, 0) << opened.err;

  const CtlResult text = on_line({"--address", "1,5-6", "status"});
  EXPECT_EQ(text.code, 3);
  EXPECT_EQ(text.out, "address 1:" + state_words(0) + "\naddress 5:" + state_words(0x0002) +
                          "\naddress 6: no answer\n");
  EXPECT_EQ(text.err, "relayctl: board 6 did not answer\n");

  const CtlResult json = on_line({"--json", "--address", "3,5,6", "status"});
  EXPECT_EQ(json.code, 3);
  EXPECT_EQ(json.out,
            board_json(3, 0) + board_json(5, 0x0002) + "{\"address\":6,\"error\":\"no answer\"}\n");
  EXPECT_EQ(json.err, "{\"error\":\"board 6 did not answer\",\"exit\":3}\n");

  const CtlResult answering = on_line({"--address", "7,1", "status"});
  EXPECT_EQ(answering.code, 0) << answering.err;
  EXPECT_EQ(answering.out, "address 1:" + state_words(0) + "\naddress 7:" + state_words(0) + "\n");
}

TEST_F(RelayctlOnBus, AWatchOfSeveralBoardsNamesTheBoardOfEachLine) {
  ASSERT_FALSE(line.device.isEmpty());
  ASSERT_EQ(on_line({"--address", "7", "open", "16"}).code, 0);
  auto watch = start({"--device", line.device, "--address", "5-7", "watch"});
  std::string expected;
  for (const int board : {5, 7}) {
    for (int relay = 1; relay <= 16; ++relay) {
      expected += "board " + std::to_string(board) + " relay " + std::to_string(relay) +
                  (board == 7 && relay == 16 ? " opened\n" : " closed\n");
    }
  }
  static const std::regex time(R"((^|\n)\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z )");
  std::string raw;
  EXPECT_TRUE(wait_until([&] {
    raw += watch->readAllStandardOutput().toStdString();
    return std::regex_replace(raw, time, "$1") == expected;
  })) << raw;
  ::kill(static_cast<pid_t>(watch->processId()), SIGINT);
  const CtlResult result = finish(*watch);
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(std::regex_replace(raw + result.out, time, "$1"), expected)
      << "the silent board prints nothing";
}

}  // namespace
