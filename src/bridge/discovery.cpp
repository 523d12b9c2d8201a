#include "bridge/discovery.h"

#include <algorithm>

#include "common/board_limits.h"
#include "text/shown_text.h"

namespace {

std::string board_id(const BridgeTopics& topics, std::uint8_t address) {
  return "relayboard_" + topics.line() + '_' + std::to_string(address);
}

// Home Assistant's entity ids are lower-case letters, digits and single underscores.
std::string entity_id(std::string_view domain, std::string_view id) {
  std::string slug;
  for (const char c : id) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    const char kept = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : plain ? c : '_';
    if (kept == '_' && (slug.empty() || slug.back() == '_')) continue;
    slug.push_back(kept);
  }
  while (!slug.empty() && slug.back() == '_') slug.pop_back();
  return std::string(domain) + '.' + slug;
}

std::string relay_name(const RelayDescription& relay) {
  return relay.name.empty() ? "Relay " + std::to_string(relay.relay) : relay.name;
}

// The keys a switch has in either form.
std::string switch_keys(const BridgeTopics& topics, const RelayDescription& relay) {
  return "\"name\":" + json_string(relay_name(relay)) + ",\"unique_id\":" +
         json_string(board_id(topics, relay.address) + '_' + std::to_string(relay.relay)) +
         ",\"state_topic\":" + json_string(topics.relay_state(relay.address, relay.relay)) +
         ",\"command_topic\":" + json_string(topics.relay_set(relay.address, relay.relay)) +
         ",\"payload_on\":\"ON\",\"payload_off\":\"OFF\""
         ",\"state_on\":\"ON\",\"state_off\":\"OFF\",\"optimistic\":false,\"retain\":false";
}

std::string button_keys(const BridgeTopics& topics, const RelayDescription& relay) {
  return "\"name\":" + json_string(relay_name(relay) + " pulse") + ",\"unique_id\":" +
         json_string(board_id(topics, relay.address) + '_' + std::to_string(relay.relay) +
                     "_pulse") +
         ",\"command_topic\":" + json_string(topics.relay_pulse(relay.address, relay.relay)) +
         ",\"payload_press\":" + json_string(pulse_text(relay.pulse)) + ",\"retain\":false";
}

// A timetable entry's switch: on while the entry runs, off while it is paused.
std::string schedule_keys(const BridgeTopics& topics, std::uint8_t address,
                          const ScheduleDescription& schedule) {
  return "\"name\":" + json_string("Schedule " + schedule.name) + ",\"unique_id\":" +
         json_string(board_id(topics, address) + "_schedule" + std::to_string(schedule.entry)) +
         ",\"state_topic\":" + json_string(topics.schedule_state(schedule.entry)) +
         ",\"command_topic\":" + json_string(topics.schedule_set(schedule.entry)) +
         ",\"payload_on\":\"ON\",\"payload_off\":\"OFF\",\"state_on\":\"ON\",\"state_off\":\"OFF\""
         ",\"entity_category\":\"config\",\"icon\":\"mdi:calendar-clock\",\"retain\":false";
}

// What the device, its availability and the bridge say once per board in the device
// form, and in every document of the entity form.
std::string board_keys(const BridgeTopics& topics, std::uint8_t address, std::string_view title,
                       std::string_view version, std::string_view support_url) {
  const std::string number = std::to_string(address);
  const std::string device_name =
      (title.empty() ? std::string("Board") : std::string(title)) + ' ' + number;
  return "\"availability\":[{\"topic\":" + json_string(topics.bridge_status()) +
         "},{\"topic\":" + json_string(topics.board_status(address)) +
         "}],\"availability_mode\":\"all\",\"qos\":1"
         ",\"device\":{\"identifiers\":[" +
         json_string(board_id(topics, address)) + "],\"name\":" + json_string(device_name) +
         ",\"model\":\"16-relay board\",\"manufacturer\":\"relay panel\",\"serial_number\":" +
         json_string(topics.line() + '/' + number) +
         "},\"origin\":{\"name\":\"relayboard-mqtt\",\"sw_version\":" + json_string(version) +
         ",\"support_url\":" + json_string(support_url) + '}';
}

RelayDescription relay_of(const BoardDescription& board, int relay) {
  const auto index = static_cast<std::size_t>(relay - 1);
  return {board.address, relay,         index < board.names.size() ? board.names[index] : "",
          board.title,   board.version, board.support_url,
          board.pulse};
}

std::string entity_topic(const BridgeTopics& topics, std::string_view component,
                         std::uint8_t address, std::string_view object) {
  return topics.discovery_prefix() + '/' + std::string(component) + '/' +
         board_id(topics, address) + '/' + std::string(object) + "/config";
}

}  // namespace

std::string discovery_config_json(const BridgeTopics& topics, const RelayDescription& relay) {
  const std::string id = board_id(topics, relay.address) + '_' + std::to_string(relay.relay);
  return '{' + switch_keys(topics, relay) + ",\"object_id\":" + json_string(id) + ',' +
         board_keys(topics, relay.address, relay.title, relay.version, relay.support_url) + '}';
}

std::string discovery_button_json(const BridgeTopics& topics, const RelayDescription& relay) {
  const std::string id =
      board_id(topics, relay.address) + '_' + std::to_string(relay.relay) + "_pulse";
  return '{' + button_keys(topics, relay) + ",\"object_id\":" + json_string(id) + ',' +
         board_keys(topics, relay.address, relay.title, relay.version, relay.support_url) + '}';
}

std::vector<DiscoveryDocument> discovery_documents(const BridgeTopics& topics, DiscoveryForm form,
                                                   const BoardDescription& board) {
  std::vector<DiscoveryDocument> documents;
  if (form == DiscoveryForm::entity) {
    for (int relay = 1; relay <= relay_count; ++relay) {
      const RelayDescription description = relay_of(board, relay);
      const std::string number = std::to_string(relay);
      documents.push_back({entity_topic(topics, "switch", board.address, "relay" + number),
                           discovery_config_json(topics, description)});
      documents.push_back({entity_topic(topics, "button", board.address, "pulse" + number),
                           discovery_button_json(topics, description)});
    }
    for (const ScheduleDescription& schedule : board.schedules) {
      const std::string object = "schedule" + std::to_string(schedule.entry);
      documents.push_back(
          {entity_topic(topics, "switch", board.address, object),
           '{' + schedule_keys(topics, board.address, schedule) + ",\"object_id\":" +
               json_string(board_id(topics, board.address) + '_' + object) + ',' +
               board_keys(topics, board.address, board.title, board.version, board.support_url) +
               '}'});
    }
    return documents;
  }
  const std::string id = board_id(topics, board.address);
  std::string components;
  for (int relay = 1; relay <= relay_count; ++relay) {
    const RelayDescription description = relay_of(board, relay);
    const std::string switch_id = id + '_' + std::to_string(relay);
    if (relay > 1) components += ',';
    components += json_string(switch_id) + ":{\"platform\":\"switch\",\"default_entity_id\":" +
                  json_string(entity_id("switch", switch_id)) + ',' +
                  switch_keys(topics, description) + "}," + json_string(switch_id + "_pulse") +
                  ":{\"platform\":\"button\",\"default_entity_id\":" +
                  json_string(entity_id("button", switch_id + "_pulse")) + ',' +
                  button_keys(topics, description) + '}';
  }
  for (const ScheduleDescription& schedule : board.schedules) {
    const std::string schedule_id = id + "_schedule" + std::to_string(schedule.entry);
    components += ',' + json_string(schedule_id) +
                  ":{\"platform\":\"switch\",\"default_entity_id\":" +
                  json_string(entity_id("switch", schedule_id)) + ',' +
                  schedule_keys(topics, board.address, schedule) + '}';
  }
  documents.push_back(
      {discovery_topics(topics, form, board.address).front(),
       '{' + board_keys(topics, board.address, board.title, board.version, board.support_url) +
           ",\"components\":{" + components + "}}"});
  return documents;
}

std::vector<std::string> discovery_topics(const BridgeTopics& topics, DiscoveryForm form,
                                          std::uint8_t address) {
  if (form == DiscoveryForm::device) {
    return {topics.discovery_prefix() + "/device/" + board_id(topics, address) + "/config"};
  }
  std::vector<std::string> list;
  for (int relay = 1; relay <= relay_count; ++relay) {
    list.push_back(entity_topic(topics, "switch", address, "relay" + std::to_string(relay)));
    list.push_back(entity_topic(topics, "button", address, "pulse" + std::to_string(relay)));
  }
  return list;
}

std::vector<std::string> discovery_patterns(const BridgeTopics& topics, DiscoveryForm form,
                                            std::uint8_t address) {
  if (form == DiscoveryForm::device) return discovery_topics(topics, form, address);
  return {entity_topic(topics, "switch", address, "+"),
          entity_topic(topics, "button", address, "+")};
}

std::optional<std::uint8_t> discovery_board(const BridgeTopics& topics, DiscoveryForm form,
                                            std::string_view topic) {
  const std::string root = topics.discovery_prefix() + '/';
  if (!topic.starts_with(root) || !topic.ends_with("/config")) return std::nullopt;
  topic = topic.substr(root.size(), topic.size() - root.size() - 7);
  const std::string_view components[] = {"device/", "switch/", "button/"};
  const auto* first = form == DiscoveryForm::device ? components : components + 1;
  const auto* last = form == DiscoveryForm::device ? components + 1 : components + 3;
  const auto* component =
      std::find_if(first, last, [&](std::string_view c) { return topic.starts_with(c); });
  if (component == last) return std::nullopt;
  topic.remove_prefix(component->size());
  const std::string node = "relayboard_" + topics.line() + '_';
  if (!topic.starts_with(node)) return std::nullopt;
  topic.remove_prefix(node.size());
  const std::size_t slash = topic.find('/');
  // The device form has no level below the board; the entity form has exactly one.
  if ((form == DiscoveryForm::device) != (slash == std::string_view::npos)) return std::nullopt;
  if (slash != std::string_view::npos && topic.find('/', slash + 1) != std::string_view::npos) {
    return std::nullopt;
  }
  const auto address = plain_number(topic.substr(0, slash), highest_address);
  if (!address) return std::nullopt;
  return static_cast<std::uint8_t>(*address);
}

std::string pulse_text(std::chrono::milliseconds pulse) {
  const auto count = pulse.count();
  return count % 1000 == 0 ? std::to_string(count / 1000) + 's' : std::to_string(count) + "ms";
}
