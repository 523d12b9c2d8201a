#include "mqtt/served_line.h"

#include <gtest/gtest.h>

#include "bridge/command_result.h"
#include "bridge/name_command.h"
#include "mqtt/served_lines.h"

namespace {

struct Broker : MqttClient {
  std::vector<std::string> sent;  // "topic payload"
  std::vector<std::string> patterns;
  bool up = true;
  bool publish(const std::string& topic, const std::string& payload, bool) override {
    if (up) sent.push_back(topic + " " + payload);
    return up;
  }
  void subscribe(const std::string& pattern) override { patterns.push_back(pattern); }
};

struct Rig {
  Broker broker;
  ServedLine line{broker, "relayboard", "ttyUSB0", 3};
  void in(const std::string& topic, const std::string& payload) {
    line.received({"relayboard/ttyUSB0/" + topic, payload, true, {}, {}, "mqtt", {}});
  }
  void states(std::uint16_t opened) {
    for (int r = 1; r <= 16; ++r)
      in("3/" + std::to_string(r) + "/state", opened & (1u << (r - 1)) ? "ON" : "OFF");
  }
  void result(const std::string& command, const std::string& result,
              const std::string& reason = "") {
    in("3/result", R"({"command":"relayboard/ttyUSB0/3/)" + command +
                       R"(","payload":"x","result":")" + result + R"(","reason":")" + reason +
                       "\"}");
  }
};

TEST(ServedLine, TheRetainedPictureIsInOnceEverySubscriptionIsAnswered) {
  Rig rig;
  rig.line.subscribe();
  EXPECT_EQ(rig.broker.patterns,
            (std::vector<std::string>{"relayboard/ttyUSB0/status", "relayboard/ttyUSB0/3/status",
                                      "relayboard/ttyUSB0/3/+/state", "relayboard/ttyUSB0/3/names",
                                      "relayboard/ttyUSB0/3/result"}));
  rig.in("status", "online");
  rig.in("3/status", "offline");
  rig.states(0x8001);
  for (const auto& p : rig.broker.patterns) {
    EXPECT_FALSE(rig.line.synced());
    rig.line.subscribed(p, p != "relayboard/ttyUSB0/3/names");
  }
  EXPECT_TRUE(rig.line.synced());
  EXPECT_EQ(rig.line.refused_subscription(), "relayboard/ttyUSB0/3/names");
  EXPECT_EQ(rig.line.bridge(), Presence::online);
  EXPECT_EQ(rig.line.board(), Presence::offline);
  EXPECT_EQ(rig.line.states(), 0x8001);
}

TEST(ServedLine, NamesAreTheBridgesDecodedTextOrNothing) {
  Rig rig;
  std::string sixteen;
  for (int r = 2; r <= 16; ++r) sixteen += ",\"R" + std::to_string(r) + "\"";
  rig.in("3/names", R"({"title":"Pump \u00e9\ud83d\ude00","names":["a\"b\n")" + sixteen + "]}");
  ASSERT_TRUE(rig.line.names());
  EXPECT_EQ(rig.line.names()->title, "Pump \xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(rig.line.names()->relays[0], "a\"b\n");
  EXPECT_EQ(rig.line.names()->relays[15], "R16");
  // Fifteen names, a lone surrogate, trailing text: not the bridge's names.
  for (const std::string bad :
       {R"({"names":["a"]})", R"({"title":"\ud800","names":[]})", R"({"names":[]} x)"}) {
    Rig other;
    other.in("3/names", bad);
    EXPECT_FALSE(other.line.names()) << bad;
  }
}

TEST(ServedLine, ASwitchSendsOnlyChangesAndIsDoneWhenTheBoardReportsIt) {
  Rig rig;
  rig.states(0x0001);
  rig.line.drive(0x0003, true);
  EXPECT_EQ(rig.broker.sent, std::vector<std::string>{"relayboard/ttyUSB0/3/2/set ON"});
  rig.line.drive(0x0006, true);
  rig.line.drive(0xFFFF, true);
  EXPECT_EQ(rig.broker.sent, (std::vector<std::string>{"relayboard/ttyUSB0/3/2/set ON",
                                                       "relayboard/ttyUSB0/3/2,3/set ON",
                                                       "relayboard/ttyUSB0/3/all/set ON"}));
  rig.line.drive(0x0003, true);
  EXPECT_EQ(rig.line.outcome().kind, ServedOutcome::Kind::waiting);
  rig.result("2/set", "done");  // the result alone is not the board's word
  EXPECT_EQ(rig.line.outcome().kind, ServedOutcome::Kind::waiting);
  rig.in("3/2/state", "ON");
  EXPECT_EQ(rig.line.outcome().kind, ServedOutcome::Kind::done);
}

TEST(ServedLine, FailuresComeFromTheBridgeOrTheBrokerForOurCommandsOnly) {
  struct Case {
    const char* what;
    std::function<void(Rig&)> then;
    ServedOutcome::Kind kind;
    std::string reason;
  };
  const Case cases[] = {
      {"another client's result", [](Rig& r) { r.result("9/set", "refused", "no"); },
       ServedOutcome::Kind::waiting, ""},
      {"not done", [](Rig& r) { r.result("5/set", "not done", "board lost"); },
       ServedOutcome::Kind::failed, "board lost"},
      {"ACL",
       [](Rig& r) { r.line.publish_refused("relayboard/ttyUSB0/3/5/set", "not authorized"); },
       ServedOutcome::Kind::not_allowed, "not authorized"},
      {"broker gone",
       [](Rig& r) {
         r.broker.up = false;
         r.line.drive(0x0010, false);
       },
       ServedOutcome::Kind::failed, "the broker connection was lost"},
  };
  for (const auto& c : cases) {
    Rig rig;
    rig.states(0x0010);
    rig.line.drive(0x0010, false);
    c.then(rig);
    EXPECT_EQ(rig.line.outcome().kind, c.kind) << c.what;
    EXPECT_EQ(rig.line.outcome().reason, c.reason) << c.what;
  }
}

TEST(ServedLine, APulseIsDoneOnceSeenOpenedAndClosedAgain) {
  Rig rig;
  rig.states(0);
  // Several relays go as one command, which the bridge judges whole.
  rig.line.pulse(0x0006, "500ms");
  EXPECT_EQ(rig.broker.sent, std::vector<std::string>{"relayboard/ttyUSB0/3/2,3/pulse 500ms"});
  rig.in("3/2/state", "ON");
  rig.in("3/2/state", "OFF");
  EXPECT_EQ(rig.line.missing(), 0x0004);
  rig.result("2,3/pulse", "done");  // too short for the poll to see 3 opened
  EXPECT_EQ(rig.line.outcome().kind, ServedOutcome::Kind::done);
}

TEST(ServedLine, ARenameIsDoneOrRefusedByTheBridgesResult) {
  Rig rig;
  rig.line.rename(5, "Pump");
  EXPECT_EQ(rig.broker.sent, std::vector<std::string>{"relayboard/ttyUSB0/3/5/name/set Pump"});
  rig.result("5/name/set", "refused", "the name is too long");
  EXPECT_EQ(rig.line.outcome().kind, ServedOutcome::Kind::failed);
  EXPECT_EQ(rig.line.outcome().reason, "the name is too long");
  rig.line.rename(5, "P");
  rig.result("5/name/set", "done");
  EXPECT_EQ(rig.line.outcome().kind, ServedOutcome::Kind::done);
}

// What the bridge publishes reads back as it was stored: names and a refusal's reason with
// quotes, backslashes, controls and any script; bytes that are no UTF-8 as U+FFFD.
TEST(ServedLine, TextPublishedByTheBridgeReadsBackAsItWas) {
  const std::string text =
      "say \"hi\" C:\\dir\\ a\nb\x1b[2J\x7f\xC2\x9B\xE6\xB0\xB4 \xF0\x9F\x92\xA7 ";
  const std::string read = text + "\xEF\xBF\xBD 2";
  Rig rig;
  std::array<std::string, 16> names{};
  names[0] = names[15] = text + "\xB1 2";
  rig.in("3/names", board_names_json(text + "\xB1 2", names));
  ASSERT_TRUE(rig.line.names());
  EXPECT_EQ(rig.line.names()->title, read);
  EXPECT_EQ(rig.line.names()->relays[0], read);
  EXPECT_EQ(rig.line.names()->relays[1], "");
  EXPECT_EQ(rig.line.names()->relays[15], read);
  rig.line.rename(2, text);
  rig.in("3/result", command_result_json({rig.line.rename_topic(2), text, {}, {}},
                                         CommandOutcome::refused, text + "\xB1 2"));
  EXPECT_EQ(rig.line.outcome().kind, ServedOutcome::Kind::failed);
  EXPECT_EQ(rig.line.outcome().reason, read);
}

TEST(ServedLines, LinesAndBoardsComeFromTheRetainedStatuses) {
  Broker broker;
  ServedLines lines(broker, "relayboard");
  for (const auto& [topic, payload] :
       std::vector<std::pair<std::string, std::string>>{{"relayboard/a/status", "online"},
                                                        {"relayboard/a/1/status", "online"},
                                                        {"relayboard/a/07/status", "online"},
                                                        {"relayboard/b/2/status", "offline"},
                                                        {"relayboard/b/status", ""},
                                                        {"other/c/status", "online"}}) {
    lines.received({topic, payload, true, {}, {}, "mqtt", {}});
  }
  ASSERT_EQ(lines.lines().size(), 2u);
  EXPECT_EQ(lines.lines().at("a").bridge, Presence::online);
  EXPECT_EQ(lines.lines().at("a").boards,
            (std::map<std::uint8_t, Presence>{{1, Presence::online}}));
  EXPECT_EQ(lines.lines().at("b").bridge, Presence::unknown);
  EXPECT_EQ(lines.lines().at("b").boards.at(2), Presence::offline);
}

}  // namespace
