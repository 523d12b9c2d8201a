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

}  // namespace
