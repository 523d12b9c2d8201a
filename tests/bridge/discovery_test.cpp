#include "bridge/discovery.h"

#include <gtest/gtest.h>

namespace {

TEST(Discovery, JsonStringsEscapeWhatTheyMustAndRepairBrokenUtf8) {
  const std::string fffd = "\xEF\xBF\xBD";
  const struct {
    std::string text;
    std::string json;
  } cases[] = {
      {"Pump", R"("Pump")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"C:\\dir\\", R"("C:\\dir\\")"},
      {"<b>markup</b> & 'quotes'", R"("<b>markup</b> & 'quotes'")"},
      {"\xE6\xB0\xB4\xE6\xB3\xB5 \xF0\x9F\x92\xA7",
       "\"\xE6\xB0\xB4\xE6\xB3\xB5 \xF0\x9F\x92\xA7\""},
      {std::string("a\nb\tc\x01\x1F\x7F", 8) + std::string(1, '\0'),
       "\"a\\u000ab\\u0009c\\u0001\\u001f\x7F\\u0000\""},
      {"\xFF", '"' + fffd + '"'},
      {"x\xE6\xB0", "\"x" + fffd + fffd + '"'},          // cut short
      {"\xC0\xAF", '"' + fffd + fffd + '"'},             // overlong slash
      {"\xED\xA0\x80", '"' + fffd + fffd + fffd + '"'},  // surrogate
      {"\xB0\xC3\xA9", '"' + fffd + "\xC3\xA9\""},       // stray continuation byte
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(json_string(c.text), c.json);
  }
}

// Every field of a named relay's document is read back end to end; here, the defaults.
TEST(Discovery, AnUnnamedRelayAndBoardTakeDefaultNames) {
  const BridgeTopics topics("relayboard", "ttyUSB0", "homeassistant");
  const std::string unnamed = discovery_config_json(topics, {0, 16, "", "", "0.1.0"});
  EXPECT_EQ(unnamed.rfind(R"({"name":"Relay 16","unique_id":"relayboard_ttyUSB0_0_16",)", 0), 0u);
  EXPECT_NE(unnamed.find(R"("name":"Board 0","model")"), std::string::npos);
}

}  // namespace
