#include "bridge/discovery.h"

#include <gtest/gtest.h>

namespace {

// Every field of a named relay's document is read back end to end; here, the defaults.
TEST(Discovery, AnUnnamedRelayAndBoardTakeDefaultNames) {
  const BridgeTopics topics("relayboard", "ttyUSB0", "homeassistant");
  const std::string unnamed = discovery_config_json(topics, {0, 16, "", "", "0.1.0"});
  EXPECT_EQ(unnamed.rfind(R"({"name":"Relay 16","unique_id":"relayboard_ttyUSB0_0_16",)", 0), 0u);
  EXPECT_NE(unnamed.find(R"("name":"Board 0","model")"), std::string::npos);
}

}  // namespace
