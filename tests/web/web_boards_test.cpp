// The boards as the page gets them: the panel's colours and captions, unknown while a
// board is offline, names passed on as they are (the page sets them as text).
#include "web/web_boards.h"

#include <gtest/gtest.h>

TEST(WebBoards, FollowTheBridgesPublications) {
  const BridgeTopics topics("relayboard", "com1", "homeassistant");
  WebBoards boards(topics, {1});
  const std::string unknown =
      R"({"relay":1,"name":"","state":"unknown","caption":"unknown","colour":"#ffff00","label":"Relay 1: unknown"})";
  EXPECT_NE(boards.board_json(1).find(unknown), std::string::npos) << boards.board_json(1);

  EXPECT_EQ(boards.published("relayboard/com1/1/status", "online"), 1);
  EXPECT_EQ(boards.published("relayboard/com1/1/1/state", "ON"), 1);
  EXPECT_EQ(boards.published("relayboard/com1/1/2/state", "OFF"), 1);
  EXPECT_EQ(boards.published("relayboard/com1/2/1/state", "ON"), std::nullopt);  // not served
  EXPECT_EQ(boards.published("relayboard/com2/1/1/state", "ON"), std::nullopt);
  EXPECT_EQ(boards.published("relayboard/com1/1/names", "{}"), std::nullopt);

  BridgeNames names{"Pump <b>house</b>", {{1, {"水泵", "<img src=x onerror=alert(1)>"}}}};
  EXPECT_EQ(boards.names_changed(names), std::vector<std::uint8_t>{1});
  EXPECT_TRUE(boards.names_changed(names).empty());
  const std::string json = boards.board_json(1);
  EXPECT_NE(json.find(R"("title":"Pump <b>house</b>","online":true)"), std::string::npos) << json;
  EXPECT_NE(
      json.find(
          R"({"relay":1,"name":"水泵","state":"opened","caption":"opened","colour":"#00ff00","label":"Relay 1, 水泵: opened"})"),
      std::string::npos)
      << json;
  EXPECT_NE(
      json.find(
          R"({"relay":2,"name":"<img src=x onerror=alert(1)>","state":"closed","caption":"closed","colour":"#ff0000")"),
      std::string::npos)
      << json;
  // Offline: every relay unknown, and still unknown until the board reports again.
  boards.published("relayboard/com1/1/status", "offline");
  boards.published("relayboard/com1/1/status", "online");
  EXPECT_NE(boards.board_json(1).find(R"("relay":1,"name":"水泵","state":"unknown")"),
            std::string::npos);
  // The page's last events: the newest 20, text as it is.
  for (int i = 1; i <= 21; ++i) boards.event_json("<b>" + std::to_string(i) + "\"");
  EXPECT_EQ(boards.events_json().size(), WebBoards::events_kept);
  EXPECT_EQ(boards.events_json().front(), R"({"type":"event","text":"<b>2\""})");
}
