// What the operator's own tools meet on a line the bridge serves: the names of its name
// file on the broker, renames through the bridge, and a port that is the bridge's.
#include "bridge_rig.h"
#include "file_bytes.h"

namespace {

class BridgeServedLine : public BridgeRig {
 protected:
  // Code page 936 as Windows writes it ("水泵" is CB AE B1 C3), a comment by hand.
  const std::string original =
      "[address 0]\r\n[Software properties]\r\nThe name=Site\r\n[address 1]\r\n"
      "relay1name=\xCB\xAE\xB1\xC3\r\n; by hand\nrelay2name=Fan\r\n";
  static std::string names_json(const std::string& relay1, const std::string& relay2) {
    std::string json = R"({"title":"Site","names":[")" + relay1 + R"(",")" + relay2 + '"';
    for (int relay = 3; relay <= 16; ++relay) json += ",\"\"";
    return json + "]}";
  }
  static std::string result(const std::string& payload, const std::string& rest) {
    return R"({"command":"relayboard/com1/1/2/name/set","payload":")" + payload +
           R"(","result":")" + rest + "}";
  }
};

TEST_F(BridgeServedLine, ARenameLandsInTheNameFileAndComesBackOnTheNamesTopic) {
  write_names(original);
  const auto bridge = start_bridge_online();
  EXPECT_TRUE(watcher->wait_for_payload(topic("1/names"), names_json("水泵", "Fan")));

  watcher->clear();
  ASSERT_TRUE(watcher->publish(topic("1/2/name/set"), "泵 2"));
  EXPECT_TRUE(watcher->wait_for_payload(topic("1/result"), result("泵 2", "done\"")))
      << bridge->log();
  // The names went out before the answer.
  EXPECT_EQ(watcher->retained(topic("1/names")), names_json("水泵", "泵 2"));
  std::string expected = original;
  expected.replace(expected.find("Fan"), 3, "\xB1\xC3 2");
  EXPECT_EQ(read_bytes(dir() + "/name.txt"), expected);

  // A name the file cannot hold is refused with the local reason; the file stays.
  watcher->clear();
  ASSERT_TRUE(watcher->publish(topic("1/2/name/set"), "Pump\nroom"));
  EXPECT_TRUE(watcher->wait_for_payload(
      topic("1/result"),
      result("Pump\\nroom",
             R"(refused","reason":"The name was not stored: it holds a line break, and a name )"
             R"(is one line of the name file.")")))
      << bridge->log();
  EXPECT_EQ(read_bytes(dir() + "/name.txt"), expected);
  EXPECT_TRUE(watcher->messages(topic("1/names")).empty());
}

TEST_F(BridgeServedLine, RelayctlFindsThePortServedAndNamesTheLine) {
  const auto bridge = start_bridge({"--line", "north"});
  EXPECT_TRUE(watcher->wait_for_payload("relayboard/north/1/status", "online")) << bridge->log();
  // In the board's folder, relayctl finds the same com1 link.
  const std::string relayctl = dir() + "/relayctl";
  std::filesystem::copy_file(RELAYCTL_PATH, relayctl);
  LoggedProcess status(relayctl, {"--port", "1", "status"}, dir() + "/relayctl.log");
  EXPECT_EQ(status.wait_exit(), 2);
  EXPECT_EQ(status.log(), "relayctl: Port 1 (" + dir() +
                              "/com1) could not be opened: Device busy: the port is served by "
                              "relayboard-mqtt as line north: open it as a served line, see "
                              "relayctl(1) --broker\n");
}

}  // namespace
