#include "mqtt/bridge_topics.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

std::string describe(const IncomingTopic& topic) {
  if (const auto* c = std::get_if<CommandTopic>(&topic)) {
    return "board " + std::to_string(c->address) +
           (c->relays  ? " relays " + std::to_string(c->relays)
            : c->relay ? " relay " + std::to_string(c->relay)
                       : " all") +
           (c->action == CommandAction::set     ? " set"
            : c->action == CommandAction::pulse ? " pulse"
                                                : " rename");
  }
  if (const auto* s = std::get_if<BoardStatusTopic>(&topic)) {
    return "status of board " + std::to_string(s->address);
  }
  if (std::holds_alternative<DiscoveryStatusTopic>(topic)) return "discovery status";
  if (std::holds_alternative<LineTopic>(topic)) return "the line's own";
  return "foreign: " + std::get<ForeignTopic>(topic).why;
}

TEST(BridgeTopics, ReceivedTopicsAreCommandsStatusesOrForeign) {
  const BridgeTopics topics("site/relays", "ttyUSB0", "ha");
  const struct {
    const char* topic;
    const char* expected;
  } cases[] = {
      {"site/relays/ttyUSB0/0/1/set", "board 0 relay 1 set"},
      {"site/relays/ttyUSB0/255/16/pulse", "board 255 relay 16 pulse"},
      {"site/relays/ttyUSB0/7/all/set", "board 7 all set"},
      {"site/relays/ttyUSB0/7/1,2,16/set", "board 7 relays 32771 set"},
      {"site/relays/ttyUSB0/7/5,6/pulse", "board 7 relays 48 pulse"},
      {"site/relays/ttyUSB0/7/2,1/set", "foreign: no relay list 2,1"},
      {"site/relays/ttyUSB0/7/1,,2/set", "foreign: no relay list 1,,2"},
      {"site/relays/ttyUSB0/7/1,17/set", "foreign: no relay list 1,17"},
      {"site/relays/ttyUSB0/7/1,2/name/set", "foreign: a rename needs one relay"},
      {"site/relays/ttyUSB0/7/16/name/set", "board 7 relay 16 rename"},
      {"site/relays/ttyUSB0/7/all/name/set", "foreign: a rename needs one relay"},
      {"site/relays/ttyUSB0/7/1/name/get", "foreign: not a topic of this bridge"},
      {"site/relays/ttyUSB0/7/1/nick/set", "foreign: not a topic of this bridge"},
      {"site/relays/ttyUSB0/7/names", "foreign: not a topic of this bridge"},
      {"site/relays/ttyUSB0/12/status", "status of board 12"},
      {"ha/status", "discovery status"},
      {"site/relays/ttyUSB0/7/all/pulse", "foreign: a pulse needs one relay"},
      {"site/relays/ttyUSB0/256/1/set", "foreign: no board address 256"},
      {"site/relays/ttyUSB0/07/1/set", "foreign: no board address 07"},
      {"site/relays/ttyUSB0/-1/1/set", "foreign: no board address -1"},
      {"site/relays/ttyUSB0/1/0/set", "foreign: no relay 0"},
      {"site/relays/ttyUSB0/1/17/set", "foreign: no relay 17"},
      {"site/relays/ttyUSB0/1/05/set", "foreign: no relay 05"},
      {"site/relays/ttyUSB0/1/5/state", "foreign: not a command: state"},
      {"site/relays/ttyUSB0/1/5/set/x", "foreign: not a topic of this bridge"},
      {"site/relays/ttyUSB0/1/5/name/set/x", "foreign: not a topic of this bridge"},
      {"site/relays/ttyUSB0/status", "the line's own"},
      {"site/relays/ttyUSB0/client", "the line's own"},
      {"site/relays/ttyUSB0/clients", "foreign: not a topic of this bridge"},
      {"site/relays/ttyUSB1/1/5/set", "foreign: not a topic of this line"},
      {"site/relays/ttyUSB0", "foreign: not a topic of this line"},
      {"ha/switch/relayboard_ttyUSB0_1/relay1/config", "foreign: not a topic of this line"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.topic);
    EXPECT_EQ(describe(topics.parse(c.topic)), c.expected);
  }
}

TEST(BridgeTopics, PayloadsAreExactWordsAndBoundedDurations) {
  EXPECT_EQ(parse_switch_payload("ON"), SwitchPayload::on);
  EXPECT_EQ(parse_switch_payload("OFF"), SwitchPayload::off);
  EXPECT_EQ(parse_switch_payload("TOGGLE"), SwitchPayload::toggle);
  for (const char* refused : {"on", "Off", " ON", "ON\n", "1", ""}) {
    EXPECT_FALSE(parse_switch_payload(refused)) << refused;
  }
  const struct {
    const char* text;
    std::optional<std::chrono::milliseconds> duration;
  } durations[] = {
      {"500ms", 500ms}, {"10ms", 10ms},    {"2s", 2s},  {"3600s", 3600s},     {"9ms", {}},
      {"3601s", {}},    {"3600001ms", {}}, {"0s", {}},  {"2m", 120s},         {"1h", 3600s},
      {"1.01h", {}},    {"1.5s", 1500ms},  {"500", {}}, {"ms", {}},           {" 2s", {}},
      {"2 s", {}},      {"2S", {}},        {"-5s", {}}, {"99999999999s", {}},
  };
  for (const auto& d : durations) {
    EXPECT_EQ(parse_pulse_duration(d.text), d.duration) << d.text;
  }
  // A sign anywhere is no duration, not even on zero.
  for (const char* signed_text : {"-0s", "+5s", "-500ms", "1.-0s", "-0ms"})
    EXPECT_FALSE(parse_pulse_duration(signed_text)) << signed_text;
}

}  // namespace
