#include "bridge/discovery.h"

#include "text/shown_text.h"

std::string discovery_config_json(const BridgeTopics& topics, const RelayDescription& relay) {
  const std::string address = std::to_string(relay.address);
  const std::string number = std::to_string(relay.relay);
  const std::string board_id = "relayboard_" + topics.line() + '_' + address;
  const std::string relay_id = json_string(board_id + '_' + number);
  const std::string name = relay.name.empty() ? "Relay " + number : relay.name;
  const std::string device_name =
      (relay.title.empty() ? std::string("Board") : relay.title) + ' ' + address;
  return "{\"name\":" + json_string(name) +  //
         ",\"unique_id\":" + relay_id +      //
         ",\"object_id\":" + relay_id +      //
         ",\"state_topic\":" + json_string(topics.relay_state(relay.address, relay.relay)) +
         ",\"command_topic\":" + json_string(topics.relay_set(relay.address, relay.relay)) +
         ",\"payload_on\":\"ON\",\"payload_off\":\"OFF\""
         ",\"state_on\":\"ON\",\"state_off\":\"OFF\""
         ",\"optimistic\":false,\"qos\":1,\"retain\":false"
         ",\"availability\":[{\"topic\":" +
         json_string(topics.bridge_status()) +
         "},{\"topic\":" + json_string(topics.board_status(relay.address)) +
         "}],\"availability_mode\":\"all\""
         ",\"device\":{\"identifiers\":[" +
         json_string(board_id) + "],\"name\":" + json_string(device_name) +
         ",\"model\":\"16-relay board\",\"manufacturer\":\"relay panel\""
         ",\"sw_version\":" +
         json_string(relay.version) +
         ",\"serial_number\":" + json_string(topics.line() + '/' + address) + "}}";
}
