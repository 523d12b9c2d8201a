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
// which drop the keys they do not know (origin aside, they read object_id).
enum class DiscoveryForm { device, entity };

// What every document says of the bridge and the boards' make.
struct DeviceFacts {
  std::string version{};            // the bridge's
  std::string support_url{};        // left out when empty
  std::string configuration_url{};  // the web page, when it is served
  std::string manufacturer{};       // the boards', left out when empty
  std::string model = "16-relay board";
};

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

// A timetable entry that switches a board's relays: a switch that pauses it, and a
// sensor of its next run.
struct ScheduleDescription {
  std::size_t entry = 1;  // its number in the timetable, from 1
  std::string name{};     // what follows "Schedule " in the entities' names
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
  DeviceFacts facts{};  // its version and support URL are the two above
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

// The documents that describe one board in `form`: one, or one per entity.
std::vector<DiscoveryDocument> discovery_documents(const BridgeTopics& topics, DiscoveryForm form,
                                                   const BoardDescription& board);
// The bridge's own device (the boards are via it): its connectivity and version.
std::vector<DiscoveryDocument> bridge_documents(const BridgeTopics& topics, DiscoveryForm form,
                                                const DeviceFacts& facts);
// Every topic that `board`'s documents take in `form`: what is published there.
std::vector<std::string> discovery_topics(const BridgeTopics& topics, DiscoveryForm form,
                                          const BoardDescription& board);
// The subscriptions under which a board's documents of either form are found on the
// broker (nothing: the bridge's own).
std::vector<std::string> discovery_patterns(const BridgeTopics& topics,
                                            std::optional<std::uint8_t> address);

// Whose document of either form a topic is: a board of the line, or the bridge.
struct DiscoveryNode {
  std::optional<std::uint8_t> board;  // nothing: the bridge's
  friend bool operator==(const DiscoveryNode&, const DiscoveryNode&) = default;
};
std::optional<DiscoveryNode> discovery_node(const BridgeTopics& topics, std::string_view topic);

// A device document without the components of `found` (an earlier one on the broker)
// that `document` no longer has, those named with their platform only: what tells Home
// Assistant to remove them. Nothing when none went.
std::optional<std::string> dropped_components(const std::string& found,
                                              const std::string& document);

// A pulse's length as a button sends it: "2s", "1500ms".
std::string pulse_text(std::chrono::milliseconds pulse);
