#pragma once

#include <string>

// One message from the broker, as the bridge's logic sees it.
struct MqttMessage {
  std::string topic;
  std::string payload;
  bool retained = false;
};

// The broker as the bridge's logic uses it; the daemon adapts its MQTT library to this.
class MqttClient {
 public:
  virtual ~MqttClient() = default;
  // QoS 1. Dropped (and false) while the broker is away: the bridge republishes on connect.
  virtual bool publish(const std::string& topic, const std::string& payload, bool retain) = 0;
  virtual void subscribe(const std::string& pattern) = 0;  // QoS 1
};
