#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bridge/bridge_topics.h"

// The text as a JSON string, quotes included: quote, backslash and control characters
// escaped (\", \\, \u00XX), well-formed UTF-8 passed through, and each byte that is not
// part of a well-formed character replaced by U+FFFD, so that the document stays valid
// whatever a name file holds.
std::string json_string(std::string_view text);

// What describes one relay to the home automation.
struct RelayDescription {
  std::uint8_t address = 0;
  int relay = 1;
  std::string name;   // the relay's name in the name file; "Relay R" when empty
  std::string title;  // the name file's title; the device is "<title> <A>"
  std::string version;
};

// The retained config document for one relay (discovery_config topic), one line.
std::string discovery_config_json(const BridgeTopics& topics, const RelayDescription& relay);
