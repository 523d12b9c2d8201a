#pragma once

#include <string>

enum class MqttVersion { v311, v5 };

// One message from the broker, as the programs' logic sees it.
struct MqttMessage {
  std::string topic;
  std::string payload;
  bool retained = false;
  // MQTT 5: where the sender wants its answer, and what to send back with it.
  std::string response_topic;
  std::string correlation_data;
  // Who sent it, for the event log: MQTT 5's user property "client_id" when the sender
  // set one; a message the program makes itself names its own source ("web") and user.
  std::string source = "mqtt";
  std::string sender;
};

// The broker as the programs' logic uses it; each host adapts its MQTT library to this.
class MqttClient {
 public:
  virtual ~MqttClient() = default;
  // QoS 1. Dropped (and false) while the broker is away: the bridge republishes on connect.
  virtual bool publish(const std::string& topic, const std::string& payload, bool retain) = 0;
  virtual void subscribe(const std::string& pattern) = 0;  // QoS 1
  // With MQTT 5 the retain flag then arrives as its sender set it, not cleared by the broker.
  virtual void subscribe_as_published(const std::string& pattern) { subscribe(pattern); }
  // Not retained; the correlation data goes with it (MQTT 5) when not empty.
  virtual bool reply(const std::string& topic, const std::string& payload,
                     const std::string& /*correlation_data*/) {
    return publish(topic, payload, false);
  }
};
