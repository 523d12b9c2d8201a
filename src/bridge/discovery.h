#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mqtt/bridge_topics.h"

// How the boards are described to Home Assistant: one document per board (device-based
// discovery, Home Assistant 2025.10 and later), or one per entity for older releases,
// which refuse the keys they do not know (origin aside, they read object_id).
enum class DiscoveryForm { device, entity };

// What describes one relay to the home automation.
struct RelayDescription {
  std::uint8_t address = 0;
  int relay = 1;
  std::string name{};   // the relay's name in the name file; "Relay R" when empty
  std::string title{};  // the name file's title; the device is "<title> <A>"
  std::string version{};
  std::string support_url{};
  std::chrono::milliseconds pulse{1000};  // what the relay's button asks for
};

// A timetable entry that switches a board's relays: a switch that pauses it.
struct ScheduleDescription {
  std::size_t entry = 1;  // its number in the timetable, from 1
  std::string name{};
};

// What describes one board: its relays' names (fewer than 16 leave the rest unnamed) and
// the timetable entries that switch it.
struct BoardDescription {
  std::uint8_t address = 0;
  std::vector<std::string> names{};
  std::string title{};
  std::string version{};
  std::string support_url{};
  std::chrono::milliseconds pulse{1000};
  std::vector<ScheduleDescription> schedules{};
};

// One retained discovery document.
struct DiscoveryDocument {
  std::string topic;
  std::string payload;
  friend bool operator==(const DiscoveryDocument&, const DiscoveryDocument&) = default;
};

// The per-entity form's switch and pulse button for one relay, one line each.
std::string discovery_config_json(const BridgeTopics& topics, const RelayDescription& relay);
std::string discovery_button_json(const BridgeTopics& topics, const RelayDescription& relay);

// The documents that describe one board in `form`: one, or a switch and a button per relay.
std::vector<DiscoveryDocument> discovery_documents(const BridgeTopics& topics, DiscoveryForm form,
                                                   const BoardDescription& board);
// Every topic that a board's documents take in `form`: what an empty payload clears.
std::vector<std::string> discovery_topics(const BridgeTopics& topics, DiscoveryForm form,
                                          std::uint8_t address);
// The subscriptions under which a board's documents in `form` are found on the broker.
std::vector<std::string> discovery_patterns(const BridgeTopics& topics, DiscoveryForm form,
                                            std::uint8_t address);
// The board whose document in `form` a topic is, if it is one.
std::optional<std::uint8_t> discovery_board(const BridgeTopics& topics, DiscoveryForm form,
                                            std::string_view topic);

// A pulse's length as a button sends it: "2s", "1500ms".
std::string pulse_text(std::chrono::milliseconds pulse);
