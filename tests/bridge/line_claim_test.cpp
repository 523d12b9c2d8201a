#include "bridge/line_claim.h"

#include <gtest/gtest.h>

namespace {

using Retained = std::map<std::string, std::string>;

TEST(LineClaim, AnotherLiveClientOnTheLineRefusesIt) {
  const BridgeTopics topics("p", "north", "ha");
  const struct {
    Retained retained;
    std::string client_id;
    std::optional<std::string> refusal;
  } cases[] = {
      {{}, "me", std::nullopt},
      {{{"p/north/status", "offline"}, {"p/north/client", "other"}}, "me", std::nullopt},
      {{{"p/north/status", "online"}, {"p/north/client", "me"}}, "me", std::nullopt},
      {{{"p/north/status", "online"}, {"p/north/client", "other\x1b"}},
       "me",
       "line north is served by the client \"other\\u001b\" (online)"},
      {{{"p/north/status", "online"}},
       "me",
       "line north is served by a bridge that does not name its client (online)"},
      {{{"p/north/status", "online"}, {"p/north/client", "me"}},
       "",
       "line north is served by the client \"me\" (online)"},
      {{{"p/north_2/status", "online"}, {"p/north/1/status", "online"}}, "me", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.client_id + " " + std::to_string(c.retained.size()));
    EXPECT_EQ(line_claim_refusal(c.retained, topics, c.client_id), c.refusal);
  }
}

TEST(LineClaim, TheLinesTopicsAreItsOwnAndItsBoardsDocumentsOnly) {
  const BridgeTopics topics("p", "north", "ha");
  const Retained retained = {
      {"p/north/status", "offline"},
      {"p/north/1/3/state", "ON"},
      {"p/north_2/1/3/state", "ON"},
      {"p/northern/status", "online"},
      {"ha/switch/relayboard_north_1/relay3/config", "{}"},
      {"ha/device/relayboard_north_12/config", "{}"},
      {"ha/switch/relayboard_north_2_1/relay3/config", "{}"},
      {"ha/switch/relayboard_north_x/relay3/config", "{}"},
      {"ha/button/pulse7/config", R"({"availability":[{"topic":"p/north/status"}]})"},
      {"ha/button/other/config", R"({"availability":[{"topic":"p/north/statusx"}]})"},
      {"ha/status", "online"},
  };
  EXPECT_EQ(
      line_retained_topics(retained, topics),
      (std::vector<std::string>{"ha/button/pulse7/config", "ha/device/relayboard_north_12/config",
                                "ha/switch/relayboard_north_1/relay3/config", "p/north/1/3/state",
                                "p/north/status"}));
}

// The broker's answers in the order it sends them: the snapshot is whole only when our
// own message comes back, whatever retained ones come before.
TEST(LineClaim, TheSnapshotEndsWithItsOwnMessage) {
  struct Client : MqttClient {
    bool publish(const std::string& topic, const std::string& payload, bool retain) override {
      sent.push_back(topic + '=' + payload + (retain ? " (retained)" : ""));
      return true;
    }
    void subscribe(const std::string& pattern) override { sent.push_back("sub " + pattern); }
    std::vector<std::string> sent;
  } client;
  RetainedSnapshot snapshot = line_claim_snapshot(BridgeTopics("p", "L", "ha"), "me");
  snapshot.start(client);
  EXPECT_EQ(client.sent,
            (std::vector<std::string>{"sub p/L/status", "sub p/L/client", "p/L/client=me"}));
  EXPECT_FALSE(snapshot.take({"p/L/status", "online", true}));
  EXPECT_FALSE(snapshot.take({"p/L/client", "other", false}));  // another bridge's check
  EXPECT_FALSE(snapshot.take({"p/L/client", "other", true}));
  EXPECT_TRUE(snapshot.take({"p/L/client", "me", false}));
  EXPECT_FALSE(snapshot.take({"p/L/status", "offline", true}));  // after the end: not taken
  EXPECT_EQ(snapshot.retained(), (Retained{{"p/L/client", "other"}, {"p/L/status", "online"}}));
  snapshot.start(client);  // a new session starts from scratch
  EXPECT_FALSE(snapshot.complete());
  EXPECT_TRUE(snapshot.retained().empty());
}

}  // namespace
