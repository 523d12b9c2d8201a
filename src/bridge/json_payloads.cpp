#include "bridge/json_payloads.h"

#include "common/board_limits.h"
#include "text/shown_text.h"

std::string line_info_json(std::string_view version, const std::vector<std::uint8_t>& addresses,
                           std::string_view device, std::chrono::milliseconds answer_timeout) {
  std::string list;
  for (const std::uint8_t address : addresses) {
    if (!list.empty()) list += ',';
    list += std::to_string(address);
  }
  return "{\"version\":" + json_string(version) + ",\"addresses\":[" + list +
         "],\"device\":" + json_string(device) +
         ",\"answer_timeout_ms\":" + std::to_string(answer_timeout.count()) + '}';
}

std::string board_state_json(std::uint16_t opened) {
  std::string json = "{";
  for (int relay = 1; relay <= relay_count; ++relay) {
    json += (relay == 1 ? "\"" : ",\"") + std::to_string(relay) +
            "\":" + ((opened >> (relay - 1)) & 1 ? "\"ON\"" : "\"OFF\"");
  }
  return json + '}';
}
