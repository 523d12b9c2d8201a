#pragma once

#include <string>

#include "mqtt/mqtt_client.h"

// The broker as the bridge's logic sees it until the line is known to be ours: nothing
// goes out before, so that a bridge that must not serve the line says nothing on it.
class HeldClient : public MqttClient {
 public:
  explicit HeldClient(MqttClient& client) : client_(client) {}
  void release() { released_ = true; }

  bool publish(const std::string& topic, const std::string& payload, bool retain) override {
    return released_ && client_.publish(topic, payload, retain);
  }
  void subscribe(const std::string& pattern) override {
    if (released_) client_.subscribe(pattern);
  }
  void subscribe_as_published(const std::string& pattern) override {
    if (released_) client_.subscribe_as_published(pattern);
  }
  bool reply(const std::string& topic, const std::string& payload,
             const std::string& correlation_data) override {
    return released_ && client_.reply(topic, payload, correlation_data);
  }

 private:
  MqttClient& client_;
  bool released_ = false;
};
