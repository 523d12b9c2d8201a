#include "broker_settings.h"

#include <utility>

BrokerSettings broker_settings(const BridgeOptions& options, std::string will_topic,
                               std::string will_payload) {
  BrokerSettings settings;
  settings.host = options.host;
  settings.port = options.mqtt_port;
  settings.client_id = options.client_id;
  settings.user = options.user;
  settings.password = options.password;
  settings.plain_password = options.allow_plain_password;
  if (options.cafile) settings.cafile = options.cafile->string();
  if (options.certfile) settings.certfile = options.certfile->string();
  if (options.keyfile) settings.keyfile = options.keyfile->string();
  settings.version = options.mqtt_version;
  settings.will_topic = std::move(will_topic);
  settings.will_payload = std::move(will_payload);
  return settings;
}
