#include "mosquitto_connection_windows.h"

#include <windows.h>

namespace {

BrokerSettings settings_for(const BrokerAccess& access) {
  BrokerSettings settings;
  settings.host = access.host;
  settings.port = access.port;
  // One per run: two relayctl at once must not take each other's session over.
  settings.client_id = "relayctl-" + std::to_string(GetCurrentProcessId());
  settings.user = access.user;
  settings.password = access.password;
  settings.cafile = access.cafile;
  return settings;
}

}  // namespace

MosquittoConnection::MosquittoConnection(const BrokerAccess& access)
    : link_(settings_for(access), [this](const std::string& line) {
        // "broker H:P not reached (why); trying again in 1 s": the operator needs the why.
        const auto open = line.find('(');
        const auto close = line.rfind(')');
        failure_ = open != std::string::npos && close > open
                       ? line.substr(open + 1, close - open - 1)
                       : line;
      }) {
  link_.on_connected = [this] {
    if (on_connected) on_connected();
  };
  link_.on_message = [this](const MqttMessage& message) {
    if (on_message) on_message(message);
  };
  link_.on_subscribed = [this](const std::string& pattern, bool granted) {
    if (on_subscribed) on_subscribed(pattern, granted);
  };
  link_.on_publish_refused = [this](const std::string& topic, const std::string& reason) {
    if (on_publish_refused) on_publish_refused(topic, reason);
  };
}
