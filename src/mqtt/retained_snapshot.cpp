#include "mqtt/retained_snapshot.h"

RetainedSnapshot::RetainedSnapshot(std::vector<std::string> patterns, std::string sync_topic,
                                   std::string token)
    : patterns_(std::move(patterns)),
      sync_topic_(std::move(sync_topic)),
      token_(std::move(token)) {}

void RetainedSnapshot::start(MqttClient& client) {
  complete_ = false;
  retained_.clear();
  for (const std::string& pattern : patterns_) client.subscribe(pattern);
  client.publish(sync_topic_, token_, false);
}

bool RetainedSnapshot::take(const MqttMessage& message) {
  if (complete_) return false;
  if (!message.retained) {
    complete_ = message.topic == sync_topic_ && message.payload == token_;
    return complete_;
  }
  if (message.payload.empty()) {
    retained_.erase(message.topic);
  } else {
    retained_[message.topic] = message.payload;
  }
  return false;
}
