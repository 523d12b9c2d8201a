#include "mqtt/bridge_topics.h"

#include <charconv>

#include "common/board_limits.h"
#include "common/duration_text.h"

std::optional<int> plain_number(std::string_view text, int highest) {
  if (text.empty() || text.size() > 3 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > highest) return std::nullopt;
  return value;
}

namespace {

std::vector<std::string_view> split_levels(std::string_view topic, char separator = '/') {
  std::vector<std::string_view> levels;
  for (;;) {
    const std::size_t slash = topic.find(separator);
    levels.push_back(topic.substr(0, slash));
    if (slash == std::string_view::npos) return levels;
    topic.remove_prefix(slash + 1);
  }
}

// Whether `topic` starts with the levels of `root` and a slash; removes them.
bool take_root(std::string_view& topic, std::string_view root) {
  if (topic.size() <= root.size() || topic.substr(0, root.size()) != root ||
      topic[root.size()] != '/') {
    return false;
  }
  topic.remove_prefix(root.size() + 1);
  return true;
}

}  // namespace

BridgeTopics::BridgeTopics(std::string prefix, std::string line, std::string discovery_prefix)
    : prefix_(std::move(prefix)),
      line_(std::move(line)),
      discovery_prefix_(std::move(discovery_prefix)) {}

std::string BridgeTopics::bridge_status() const {
  return prefix_ + '/' + line_ + "/status";
}

std::string BridgeTopics::line_client() const {
  return prefix_ + '/' + line_ + "/client";
}

std::string BridgeTopics::board_status(std::uint8_t address) const {
  return prefix_ + '/' + line_ + '/' + std::to_string(address) + "/status";
}

std::string BridgeTopics::relay_state(std::uint8_t address, int relay) const {
  return prefix_ + '/' + line_ + '/' + std::to_string(address) + '/' + std::to_string(relay) +
         "/state";
}

std::string BridgeTopics::relay_set(std::uint8_t address, int relay) const {
  return prefix_ + '/' + line_ + '/' + std::to_string(address) + '/' + std::to_string(relay) +
         "/set";
}

std::string BridgeTopics::relay_pulse(std::uint8_t address, int relay) const {
  return prefix_ + '/' + line_ + '/' + std::to_string(address) + '/' + std::to_string(relay) +
         "/pulse";
}

std::string BridgeTopics::line_info() const {
  return prefix_ + '/' + line_ + "/info";
}

std::string BridgeTopics::board_state(std::uint8_t address) const {
  return prefix_ + '/' + line_ + '/' + std::to_string(address) + "/state";
}

std::string BridgeTopics::discovery_status() const {
  return discovery_prefix_ + "/status";
}

std::string BridgeTopics::board_result(std::uint8_t address) const {
  return prefix_ + '/' + line_ + '/' + std::to_string(address) + "/result";
}

std::string BridgeTopics::board_refusal(std::uint8_t address) const {
  return prefix_ + '/' + line_ + '/' + std::to_string(address) + "/refusal";
}

std::string BridgeTopics::all_set(std::uint8_t address) const {
  return prefix_ + '/' + line_ + '/' + std::to_string(address) + "/all/set";
}

std::string BridgeTopics::board_names(std::uint8_t address) const {
  return prefix_ + '/' + line_ + '/' + std::to_string(address) + "/names";
}

std::string BridgeTopics::relay_rename(std::uint8_t address, int relay) const {
  return prefix_ + '/' + line_ + '/' + std::to_string(address) + '/' + std::to_string(relay) +
         "/name/set";
}

std::string BridgeTopics::timetable() const {
  return prefix_ + '/' + line_ + "/schedule";
}

std::string BridgeTopics::schedule_state(std::size_t entry) const {
  return prefix_ + '/' + line_ + "/schedule/" + std::to_string(entry) + "/state";
}

std::string BridgeTopics::schedule_set(std::size_t entry) const {
  return prefix_ + '/' + line_ + "/schedule/" + std::to_string(entry) + "/set";
}

std::optional<std::size_t> BridgeTopics::schedule_entry(std::string_view topic,
                                                        std::string_view leaf) const {
  if (!take_root(topic, prefix_ + '/' + line_)) return std::nullopt;
  const std::vector<std::string_view> levels = split_levels(topic);
  if (levels.size() != 3 || levels[0] != "schedule" || levels[2] != leaf) return std::nullopt;
  const std::optional<int> entry = plain_number(levels[1], 999);
  if (!entry || *entry == 0) return std::nullopt;
  return static_cast<std::size_t>(*entry);
}

std::optional<std::uint8_t> BridgeTopics::result_board(std::string_view topic) const {
  if (!take_root(topic, prefix_ + '/' + line_)) return std::nullopt;
  const std::vector<std::string_view> levels = split_levels(topic);
  const bool command = (levels.size() == 3 && (levels[2] == "set" || levels[2] == "pulse")) ||
                       (levels.size() == 4 && levels[2] == "name" && levels[3] == "set");
  if (!command) return std::nullopt;
  const std::optional<int> address = plain_number(levels[0], highest_address);
  if (!address) return std::nullopt;
  return static_cast<std::uint8_t>(*address);
}

std::vector<std::string> BridgeTopics::subscriptions(bool discovery) const {
  const std::string root = prefix_ + '/' + line_;
  std::vector<std::string> patterns{root + "/+/+/set", root + "/+/+/pulse", root + "/+/+/name/set",
                                    root + "/+/status"};
  if (discovery) patterns.push_back(discovery_status());
  return patterns;
}

IncomingTopic BridgeTopics::parse(std::string_view topic) const {
  if (topic == discovery_status()) return DiscoveryStatusTopic{};
  if (topic == bridge_status() || topic == line_client()) return LineTopic{};
  if (!take_root(topic, prefix_ + '/' + line_)) return ForeignTopic{"not a topic of this line"};
  const std::vector<std::string_view> levels = split_levels(topic);
  if (levels.size() < 2 || levels.size() > 4) return ForeignTopic{"not a topic of this bridge"};
  const std::optional<int> address = plain_number(levels[0], highest_address);
  if (!address) return ForeignTopic{"no board address " + std::string(levels[0])};
  const auto board = static_cast<std::uint8_t>(*address);
  if (levels.size() == 2) {
    if (levels[1] == "status") return BoardStatusTopic{board};
    return ForeignTopic{"not a topic of this bridge"};
  }
  CommandAction action = CommandAction::set;
  if (levels.size() == 4) {
    if (levels[2] != "name" || levels[3] != "set")
      return ForeignTopic{"not a topic of this bridge"};
    action = CommandAction::rename;
  } else if (levels[2] == "pulse") {
    action = CommandAction::pulse;
  } else if (levels[2] != "set") {
    return ForeignTopic{"not a command: " + std::string(levels[2])};
  }
  if (levels[1] == "all") {
    if (action == CommandAction::pulse) return ForeignTopic{"a pulse needs one relay"};
    if (action == CommandAction::rename) return ForeignTopic{"a rename needs one relay"};
    return CommandTopic{board, 0, action};
  }
  if (levels[1].find(',') != std::string_view::npos) {
    if (action == CommandAction::rename) return ForeignTopic{"a rename needs one relay"};
    // One spelling of each list: plain numbers in ascending order.
    std::uint16_t relays = 0;
    int last = 0;
    for (const std::string_view item : split_levels(levels[1], ',')) {
      const std::optional<int> relay = plain_number(item, relay_count);
      if (!relay || *relay <= last) return ForeignTopic{"no relay list " + std::string(levels[1])};
      relays = static_cast<std::uint16_t>(relays | 1u << (*relay - 1));
      last = *relay;
    }
    return CommandTopic{board, 0, action, relays};
  }
  const std::optional<int> relay = plain_number(levels[1], relay_count);
  if (!relay || *relay == 0) return ForeignTopic{"no relay " + std::string(levels[1])};
  return CommandTopic{board, *relay, action};
}

std::optional<SwitchPayload> parse_switch_payload(std::string_view payload) {
  if (payload == "ON") return SwitchPayload::on;
  if (payload == "OFF") return SwitchPayload::off;
  if (payload == "TOGGLE") return SwitchPayload::toggle;
  return std::nullopt;
}

std::optional<std::chrono::milliseconds> parse_pulse_duration(std::string_view payload) {
  using std::chrono::milliseconds;
  const auto duration = parse_duration(payload);
  if (!duration || *duration < milliseconds(10) || *duration > milliseconds(3'600'000)) {
    return std::nullopt;
  }
  return duration;
}
