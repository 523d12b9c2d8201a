#pragma once

#include <map>
#include <string>
#include <vector>

#include "mqtt/mqtt_client.h"

// The retained messages under some topic patterns, as the broker holds them now. A
// subscriber is handed the retained messages of each subscription, and the broker takes a
// client's packets in order: once a message that this client published after subscribing
// comes back, every retained message queued before it has arrived. No timer guesses when
// the broker is done.
class RetainedSnapshot {
 public:
  // `sync_topic` must match one of `patterns`; `token` tells our own message apart there.
  RetainedSnapshot(std::vector<std::string> patterns, std::string sync_topic, std::string token);

  // Subscribes and sends the token (not retained); again after a reconnect, from scratch.
  void start(MqttClient& client);
  // One message from the broker; true when it completed the snapshot.
  bool take(const MqttMessage& message);
  bool complete() const { return complete_; }
  // Topic to payload; an empty retained payload is no message.
  const std::map<std::string, std::string>& retained() const { return retained_; }

 private:
  std::vector<std::string> patterns_;
  std::string sync_topic_;
  std::string token_;
  bool complete_ = false;
  std::map<std::string, std::string> retained_;
};
