#include "bridge/discovery.h"

#include <algorithm>

#include "common/board_limits.h"
#include "text/json_text.h"

namespace {

std::string node_id(const BridgeTopics& topics, std::optional<std::uint8_t> address) {
  return "relayboard_" + topics.line() + '_' + (address ? std::to_string(*address) : "bridge");
}

std::string board_id(const BridgeTopics& topics, std::uint8_t address) {
  return node_id(topics, address);
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

// One entity of a device: its platform, its level in the entity form's topic, the tail
// of its unique id and its own keys.
struct Entity {
  std::string platform;
  std::string object;
  std::string id;  // the unique id and the key in the device form's components
  Json keys;
};

Json switch_keys(const BridgeTopics& topics, const RelayDescription& relay, std::string_view id) {
  return {{"name", relay_name(relay)},
          {"unique_id", id},
          {"state_topic", topics.relay_state(relay.address, relay.relay)},
          {"command_topic", topics.relay_set(relay.address, relay.relay)},
          {"payload_on", "ON"},
          {"payload_off", "OFF"},
          {"state_on", "ON"},
          {"state_off", "OFF"},
          {"optimistic", false},
          {"retain", false},
          {"device_class", "switch"}};
}

// Sixteen buttons per board are extras: the user enables those they use.
Json button_keys(const BridgeTopics& topics, const RelayDescription& relay, std::string_view id) {
  return {{"name", relay_name(relay) + " pulse"},
          {"unique_id", id},
          {"command_topic", topics.relay_pulse(relay.address, relay.relay)},
          {"payload_press", pulse_text(relay.pulse)},
          {"retain", false},
          {"enabled_by_default", false}};
}

Json all_keys(const BridgeTopics& topics, std::uint8_t address, bool on, std::string_view id) {
  return {{"name", on ? "All on" : "All off"},
          {"unique_id", id},
          {"command_topic", topics.all_set(address)},
          {"payload_press", on ? "ON" : "OFF"},
          {"retain", false},
          {"icon", on ? "mdi:toggle-switch" : "mdi:toggle-switch-off-outline"}};
}

// Online or offline even while the board is away: only the bridge's absence hides it.
Json connectivity_keys(const std::string& state_topic, const BridgeTopics& topics,
                       std::string_view id, std::string_view name) {
  return {{"name", name},
          {"unique_id", id},
          {"state_topic", state_topic},
          {"payload_on", "online"},
          {"payload_off", "offline"},
          {"device_class", "connectivity"},
          {"entity_category", "diagnostic"},
          {"availability", Json::array({Json::object({{"topic", topics.bridge_status()}})})}};
}

Json refusal_keys(const BridgeTopics& topics, std::uint8_t address, std::string_view id) {
  return {{"name", "Last refusal"},
          {"unique_id", id},
          {"state_topic", topics.board_refusal(address)},
          // A sensor's state holds at most 255 characters; the whole answer is its attributes.
          {"value_template", "{{ value_json.reason[:255] }}"},
          {"json_attributes_topic", topics.board_refusal(address)},
          {"entity_category", "diagnostic"},
          {"icon", "mdi:hand-back-left-outline"},
          {"availability", Json::array({Json::object({{"topic", topics.bridge_status()}})})}};
}

// A timetable entry's switch: on while the entry runs, off while it is paused.
Json schedule_keys(const BridgeTopics& topics, const ScheduleDescription& schedule,
                   std::string_view id) {
  return {{"name", "Schedule " + schedule.name},
          {"unique_id", id},
          {"state_topic", topics.schedule_state(schedule.entry)},
          {"command_topic", topics.schedule_set(schedule.entry)},
          {"payload_on", "ON"},
          {"payload_off", "OFF"},
          {"state_on", "ON"},
          {"state_off", "OFF"},
          {"entity_category", "config"},
          {"icon", "mdi:calendar-clock"},
          {"retain", false}};
}

// Its next run from the timetable's JSON; "None" (no run due) reads as unknown.
Json next_run_keys(const BridgeTopics& topics, const ScheduleDescription& schedule,
                   std::string_view id) {
  return {{"name", "Schedule " + schedule.name + " next run"},
          {"unique_id", id},
          {"state_topic", topics.timetable()},
          {"value_template",
           "{{ value_json.entries[" + std::to_string(schedule.entry - 1) + "].next or None }}"},
          {"device_class", "timestamp"}};
}

RelayDescription relay_of(const BoardDescription& board, int relay) {
  const auto index = static_cast<std::size_t>(relay - 1);
  return {board.address, relay,         index < board.names.size() ? board.names[index] : "",
          board.title,   board.version, board.support_url,
          board.pulse};
}

std::vector<Entity> board_entities(const BridgeTopics& topics, const BoardDescription& board) {
  const std::string id = board_id(topics, board.address);
  std::vector<Entity> entities;
  for (int relay = 1; relay <= relay_count; ++relay) {
    const RelayDescription description = relay_of(board, relay);
    const std::string number = std::to_string(relay);
    const std::string switch_id = id + '_' + number;
    entities.push_back(
        {"switch", "relay" + number, switch_id, switch_keys(topics, description, switch_id)});
    entities.push_back({"button", "pulse" + number, switch_id + "_pulse",
                        button_keys(topics, description, switch_id + "_pulse")});
  }
  for (const bool on : {true, false}) {
    const std::string object = on ? "all_on" : "all_off";
    entities.push_back({"button", object, id + '_' + object,
                        all_keys(topics, board.address, on, id + '_' + object)});
  }
  entities.push_back({"binary_sensor", "connectivity", id + "_connectivity",
                      connectivity_keys(topics.board_status(board.address), topics,
                                        id + "_connectivity", "Connectivity")});
  entities.push_back({"sensor", "last_refusal", id + "_last_refusal",
                      refusal_keys(topics, board.address, id + "_last_refusal")});
  for (const ScheduleDescription& schedule : board.schedules) {
    const std::string object = "schedule" + std::to_string(schedule.entry);
    entities.push_back(
        {"switch", object, id + '_' + object, schedule_keys(topics, schedule, id + '_' + object)});
    entities.push_back({"sensor", object + "_next", id + '_' + object + "_next",
                        next_run_keys(topics, schedule, id + '_' + object + "_next")});
  }
  return entities;
}

Json origin(const DeviceFacts& facts) {
  Json keys = {{"name", "relayboard-mqtt"}, {"sw_version", facts.version}};
  if (!facts.support_url.empty()) keys["support_url"] = facts.support_url;
  return keys;
}

// What the device, its availability and the bridge say once per board in the device
// form, and in every document of the entity form.
void add_board_keys(Json& config, const BridgeTopics& topics, std::uint8_t address,
                    std::string_view title, const DeviceFacts& facts) {
  const std::string number = std::to_string(address);
  const std::string device_name =
      (title.empty() ? std::string("Board") : std::string(title)) + ' ' + number;
  config["availability"] = Json::array({Json::object({{"topic", topics.bridge_status()}}),
                                        Json::object({{"topic", topics.board_status(address)}})});
  config["availability_mode"] = "all";
  config["qos"] = 1;
  Json device = {{"identifiers", Json::array({board_id(topics, address)})},
                 {"name", device_name},
                 {"model", facts.model}};
  if (!facts.manufacturer.empty()) device["manufacturer"] = facts.manufacturer;
  device["serial_number"] = topics.line() + '/' + number;
  device["via_device"] = node_id(topics, std::nullopt);
  if (!facts.configuration_url.empty()) device["configuration_url"] = facts.configuration_url;
  config["device"] = std::move(device);
  config["origin"] = origin(facts);
}

void add_bridge_keys(Json& config, const BridgeTopics& topics, const DeviceFacts& facts) {
  config["qos"] = 1;
  Json device = {{"identifiers", Json::array({node_id(topics, std::nullopt)})},
                 {"name", "relayboard-mqtt " + topics.line()},
                 {"model", "relayboard-mqtt"},
                 {"sw_version", facts.version},
                 {"serial_number", topics.line()}};
  if (!facts.configuration_url.empty()) device["configuration_url"] = facts.configuration_url;
  config["device"] = std::move(device);
  config["origin"] = origin(facts);
}

std::string entity_topic(const BridgeTopics& topics, std::string_view component,
                         std::string_view node, std::string_view object) {
  return topics.discovery_prefix() + '/' + std::string(component) + '/' + std::string(node) + '/' +
         std::string(object) + "/config";
}

std::string device_topic(const BridgeTopics& topics, std::string_view node) {
  return topics.discovery_prefix() + "/device/" + std::string(node) + "/config";
}

DeviceFacts facts_of(const BoardDescription& board) {
  DeviceFacts facts = board.facts;
  facts.version = board.version;
  facts.support_url = board.support_url;
  return facts;
}

// One entity's document of the entity form.
std::string entity_json(const BridgeTopics& topics, const BoardDescription& board,
                        const Entity& entity) {
  Json config = entity.keys;
  config["object_id"] = entity.id;
  add_board_keys(config, topics, board.address, board.title, facts_of(board));
  return json_text(config);
}

std::vector<DiscoveryDocument> documents_of(const BridgeTopics& topics, DiscoveryForm form,
                                            const std::string& node,
                                            const std::vector<Entity>& entities,
                                            const auto& add_device_keys) {
  std::vector<DiscoveryDocument> documents;
  if (form == DiscoveryForm::entity) {
    for (const Entity& entity : entities) {
      Json config = entity.keys;
      config["object_id"] = entity.id;
      add_device_keys(config);
      documents.push_back(
          {entity_topic(topics, entity.platform, node, entity.object), json_text(config)});
    }
    return documents;
  }
  Json components = Json::object();
  for (const Entity& entity : entities) {
    Json& component = components[entity.id];
    component["platform"] = entity.platform;
    component["default_entity_id"] = entity_id(entity.platform, entity.id);
    component.update(entity.keys);
  }
  Json device = Json::object();
  add_device_keys(device);
  device["components"] = std::move(components);
  documents.push_back({device_topic(topics, node), json_text(device)});
  return documents;
}

}  // namespace

std::string discovery_config_json(const BridgeTopics& topics, const RelayDescription& relay) {
  const BoardDescription board{relay.address,     {},         relay.title, relay.version,
                               relay.support_url, relay.pulse};
  const std::string id = board_id(topics, relay.address) + '_' + std::to_string(relay.relay);
  return entity_json(topics, board, {"switch", "", id, switch_keys(topics, relay, id)});
}

std::string discovery_button_json(const BridgeTopics& topics, const RelayDescription& relay) {
  const BoardDescription board{relay.address,     {},         relay.title, relay.version,
                               relay.support_url, relay.pulse};
  const std::string id =
      board_id(topics, relay.address) + '_' + std::to_string(relay.relay) + "_pulse";
  return entity_json(topics, board, {"button", "", id, button_keys(topics, relay, id)});
}

std::vector<DiscoveryDocument> discovery_documents(const BridgeTopics& topics, DiscoveryForm form,
                                                   const BoardDescription& board) {
  return documents_of(topics, form, board_id(topics, board.address), board_entities(topics, board),
                      [&](Json& config) {
                        add_board_keys(config, topics, board.address, board.title, facts_of(board));
                      });
}

std::vector<DiscoveryDocument> bridge_documents(const BridgeTopics& topics, DiscoveryForm form,
                                                const DeviceFacts& facts) {
  const std::string node = node_id(topics, std::nullopt);
  const std::vector<Entity> entities = {
      {"binary_sensor", "connectivity", node + "_connectivity",
       connectivity_keys(topics.bridge_status(), topics, node + "_connectivity", "Connectivity")}};
  return documents_of(topics, form, node, entities,
                      [&](Json& config) { add_bridge_keys(config, topics, facts); });
}

std::vector<std::string> discovery_topics(const BridgeTopics& topics, DiscoveryForm form,
                                          const BoardDescription& board) {
  const std::string node = board_id(topics, board.address);
  if (form == DiscoveryForm::device) return {device_topic(topics, node)};
  std::vector<std::string> list;
  for (const Entity& entity : board_entities(topics, board)) {
    list.push_back(entity_topic(topics, entity.platform, node, entity.object));
  }
  return list;
}

std::vector<std::string> discovery_patterns(const BridgeTopics& topics,
                                            std::optional<std::uint8_t> address) {
  const std::string node = node_id(topics, address);
  return {device_topic(topics, node), entity_topic(topics, "+", node, "+")};
}

std::optional<DiscoveryNode> discovery_node(const BridgeTopics& topics, std::string_view topic) {
  const std::string root = topics.discovery_prefix() + '/';
  if (!topic.starts_with(root) || !topic.ends_with("/config")) return std::nullopt;
  topic = topic.substr(root.size(), topic.size() - root.size() - 7);
  const std::size_t component_end = topic.find('/');
  if (component_end == std::string_view::npos || component_end == 0) return std::nullopt;
  const bool device = topic.substr(0, component_end) == "device";
  topic.remove_prefix(component_end + 1);
  const std::string node = "relayboard_" + topics.line() + '_';
  if (!topic.starts_with(node)) return std::nullopt;
  topic.remove_prefix(node.size());
  const std::size_t slash = topic.find('/');
  // The device form has no level below the node; the entity form has exactly one.
  if (device != (slash == std::string_view::npos)) return std::nullopt;
  if (slash != std::string_view::npos &&
      (slash + 1 == topic.size() || topic.find('/', slash + 1) != std::string_view::npos)) {
    return std::nullopt;
  }
  const std::string_view name = topic.substr(0, slash);
  if (name == "bridge") return DiscoveryNode{};
  const auto address = plain_number(name, highest_address);
  if (!address) return std::nullopt;
  return DiscoveryNode{static_cast<std::uint8_t>(*address)};
}

std::optional<std::string> dropped_components(const std::string& found,
                                              const std::string& document) {
  const auto before = json_object(found);
  auto after = json_object(document);
  if (!before || !after) return std::nullopt;
  const auto old = before->find("components");
  if (old == before->end() || !old->is_object()) return std::nullopt;
  Json& components = (*after)["components"];
  bool dropped = false;
  for (const auto& [id, component] : old->items()) {
    if (components.contains(id) || !component.is_object()) continue;
    const auto platform = json_text_field(component, "platform");
    if (!platform) continue;
    components[id] = {{"platform", *platform}};
    dropped = true;
  }
  if (!dropped) return std::nullopt;
  return json_text(*after);
}

std::string pulse_text(std::chrono::milliseconds pulse) {
  const auto count = pulse.count();
  return count % 1000 == 0 ? std::to_string(count / 1000) + 's' : std::to_string(count) + "ms";
}
