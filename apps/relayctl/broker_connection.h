#pragma once

#include <functional>
#include <optional>
#include <string>

#include "mqtt/mqtt_client.h"

// Where relayctl finds the broker of a served line, and who it is there.
struct BrokerAccess {
  std::string host;
  int port = 1883;
  std::string cafile;  // TLS when set
  std::string user;
  std::string password;
  bool plain_password = false;  // the operator allows it in clear to a broker elsewhere
};

// The broker connection a relayctl program puts under the served-line commands: its
// system's MQTT library on its event loop.
class BrokerConnection : public MqttClient {
 public:
  std::function<void()> on_connected;
  std::function<void(const MqttMessage&)> on_message;
  std::function<void(const std::string& pattern, bool granted)> on_subscribed;
  std::function<void(const std::string& topic, const std::string& reason)> on_publish_refused;
  // Starts connecting; the reason when the settings cannot be used at all.
  virtual std::optional<std::string> start() = 0;
  virtual bool connected() const = 0;
  // Why the last attempt failed, for the operator.
  virtual std::string failure() const = 0;
  // Whether every publish has been acknowledged by the broker.
  virtual bool all_acknowledged() const = 0;
};
