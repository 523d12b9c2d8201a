#include "bridge/discovery.h"

#include <algorithm>

#include "common/board_limits.h"
#include "text/json_text.h"

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

// The keys a switch has in either form, added to `config`.
void add_switch_keys(Json& config, const BridgeTopics& topics, const RelayDescription& relay) {
  config["name"] = relay_name(relay);
  config["unique_id"] = board_id(topics, relay.address) + '_' + std::to_string(relay.relay);
  config["state_topic"] = topics.relay_state(relay.address, relay.relay);
  config["command_topic"] = topics.relay_set(relay.address, relay.relay);
  config["payload_on"] = "ON";
  config["payload_off"] = "OFF";
  config["state_on"] = "ON";
  config["state_off"] = "OFF";
  config["optimistic"] = false;
  config["retain"] = false;
}

void add_button_keys(Json& config, const BridgeTopics& topics, const RelayDescription& relay) {
  config["name"] = relay_name(relay) + " pulse";
  config["unique_id"] =
      board_id(topics, relay.address) + '_' + std::to_string(relay.relay) + "_pulse";
  config["command_topic"] = topics.relay_pulse(relay.address, relay.relay);
  config["payload_press"] = pulse_text(relay.pulse);
  config["retain"] = false;
}

// A timetable entry's switch: on while the entry runs, off while it is paused.
void add_schedule_keys(Json& config, const BridgeTopics& topics, std::uint8_t address,
                       const ScheduleDescription& schedule) {
  config["name"] = "Schedule " + schedule.name;
  config["unique_id"] = board_id(topics, address) + "_schedule" + std::to_string(schedule.entry);
  config["state_topic"] = topics.schedule_state(schedule.entry);
  config["command_topic"] = topics.schedule_set(schedule.entry);
  config["payload_on"] = "ON";
  config["payload_off"] = "OFF";
  config["state_on"] = "ON";
  config["state_off"] = "OFF";
  config["entity_category"] = "config";
  config["icon"] = "mdi:calendar-clock";
  config["retain"] = false;
}

// What the device, its availability and the bridge say once per board in the device
// form, and in every document of the entity form.
void add_board_keys(Json& config, const BridgeTopics& topics, std::uint8_t address,
                    std::string_view title, std::string_view version,
                    std::string_view support_url) {
  const std::string number = std::to_string(address);
  const std::string device_name =
      (title.empty() ? std::string("Board") : std::string(title)) + ' ' + number;
  config["availability"] = Json::array({Json::object({{"topic", topics.bridge_status()}}),
                                        Json::object({{"topic", topics.board_status(address)}})});
  config["availability_mode"] = "all";
  config["qos"] = 1;
  config["device"] = {{"identifiers", Json::array({board_id(topics, address)})},
                      {"name", device_name},
                      {"model", "16-relay board"},
                      {"manufacturer", "relay panel"},
                      {"serial_number", topics.line() + '/' + number}};
  config["origin"] = {
      {"name", "relayboard-mqtt"}, {"sw_version", version}, {"support_url", support_url}};
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
  Json config = Json::object();
  add_switch_keys(config, topics, relay);
  config["object_id"] = board_id(topics, relay.address) + '_' + std::to_string(relay.relay);
  add_board_keys(config, topics, relay.address, relay.title, relay.version, relay.support_url);
  return json_text(config);
}

std::string discovery_button_json(const BridgeTopics& topics, const RelayDescription& relay) {
  Json config = Json::object();
  add_button_keys(config, topics, relay);
  config["object_id"] =
      board_id(topics, relay.address) + '_' + std::to_string(relay.relay) + "_pulse";
  add_board_keys(config, topics, relay.address, relay.title, relay.version, relay.support_url);
  return json_text(config);
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
      Json config = Json::object();
      add_schedule_keys(config, topics, board.address, schedule);
      config["object_id"] = board_id(topics, board.address) + '_' + object;
      add_board_keys(config, topics, board.address, board.title, board.version, board.support_url);
      documents.push_back(
          {entity_topic(topics, "switch", board.address, object), json_text(config)});
    }
    return documents;
  }
  const std::string id = board_id(topics, board.address);
  Json components = Json::object();
  for (int relay = 1; relay <= relay_count; ++relay) {
    const RelayDescription description = relay_of(board, relay);
    const std::string switch_id = id + '_' + std::to_string(relay);
    Json& relay_switch = components[switch_id];
    relay_switch["platform"] = "switch";
    relay_switch["default_entity_id"] = entity_id("switch", switch_id);
    add_switch_keys(relay_switch, topics, description);
    Json& button = components[switch_id + "_pulse"];
    button["platform"] = "button";
    button["default_entity_id"] = entity_id("button", switch_id + "_pulse");
    add_button_keys(button, topics, description);
  }
  for (const ScheduleDescription& schedule : board.schedules) {
    const std::string schedule_id = id + "_schedule" + std::to_string(schedule.entry);
    Json& schedule_switch = components[schedule_id];
    schedule_switch["platform"] = "switch";
    schedule_switch["default_entity_id"] = entity_id("switch", schedule_id);
    add_schedule_keys(schedule_switch, topics, board.address, schedule);
  }
  Json device = Json::object();
  add_board_keys(device, topics, board.address, board.title, board.version, board.support_url);
  device["components"] = std::move(components);
  documents.push_back({discovery_topics(topics, form, board.address).front(), json_text(device)});
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
