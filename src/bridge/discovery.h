#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bridge/bridge_topics.h"

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
