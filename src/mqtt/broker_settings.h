#pragma once

#include <string>

#include "mqtt/mqtt_client.h"

// How a program reaches its broker.
struct BrokerSettings {
  std::string host = "localhost";
  int port = 1883;
  std::string client_id;
  std::string user;  // none when empty
  std::string password;
  std::string cafile;  // TLS when set
  std::string certfile;
  std::string keyfile;
  // The operator allows the password in clear to a broker elsewhere (plain_password.h).
  bool plain_password = false;
  MqttVersion version = MqttVersion::v5;
  // The last will: retained, QoS 1, sent by the broker when the daemon vanishes; none
  // without a topic.
  std::string will_topic;
  std::string will_payload;
};
