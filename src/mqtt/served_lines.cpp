#include "mqtt/served_lines.h"

#include <string_view>

namespace {

std::optional<Presence> presence(const std::string& payload) {
  if (payload == "online") return Presence::online;
  if (payload == "offline") return Presence::offline;
  return std::nullopt;
}

std::optional<std::uint8_t> address(std::string_view text) {
  if (text.empty() || text.size() > 3 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > 255) return std::nullopt;
  return static_cast<std::uint8_t>(value);
}

}  // namespace

ServedLines::ServedLines(MqttClient& client, std::string prefix)
    : client_(client), prefix_(std::move(prefix)) {}

std::vector<std::string> ServedLines::subscriptions() const {
  return {prefix_ + "/+/status", prefix_ + "/+/+/status", prefix_ + "/+/+/result"};
}

void ServedLines::subscribe() {
  for (const auto& pattern : subscriptions()) client_.subscribe(pattern);
}

void ServedLines::subscribed(const std::string& pattern, bool granted) {
  ++acknowledged_;
  if (!granted && !refused_ && pattern != subscriptions().back()) refused_ = pattern;
}

void ServedLines::received(const MqttMessage& message) {
  std::string_view topic = message.topic;
  if (!topic.starts_with(prefix_ + "/") || !topic.ends_with("/status")) return;
  topic.remove_prefix(prefix_.size() + 1);
  topic.remove_suffix(std::string_view("/status").size());
  const auto state = presence(message.payload);
  // An empty retained message clears a forgotten line's topics.
  if (!state) return;
  const auto slash = topic.find('/');
  if (slash == std::string_view::npos) {
    lines_[std::string(topic)].bridge = *state;
    return;
  }
  if (const auto board = address(topic.substr(slash + 1))) {
    lines_[std::string(topic.substr(0, slash))].boards[*board] = *state;
  }
}
