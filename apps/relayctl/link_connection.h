#pragma once

#include <string>
#include <utility>

#include "broker_connection.h"
#include "mqtt/broker_failure.h"
#include "mqtt/broker_settings.h"

// The broker settings of one relayctl run: its own client id, so that two relayctl at
// once never take each other's session over.
inline BrokerSettings relayctl_broker_settings(const BrokerAccess& access, unsigned long pid) {
  BrokerSettings settings;
  settings.host = access.host;
  settings.port = access.port;
  settings.client_id = "relayctl-" + std::to_string(pid);
  settings.user = access.user;
  settings.password = access.password;
  settings.plain_password = access.plain_password;
  settings.cafile = access.cafile;
  return settings;
}

// relayctl's broker connection on its system's MQTT link: the shared libmosquitto client
// on Qt's event loop, or its twin on the Win32 message loop, which offer the same calls.
template <typename Link>
class LinkConnection : public BrokerConnection {
 public:
  // `loop`: what the link runs on besides its settings and log, where it needs one.
  template <typename... Loop>
  explicit LinkConnection(BrokerSettings settings, Loop&... loop)
      : link_(
            std::move(settings),
            // "broker H:P not reached (why); trying again in 1 s": the operator needs the why.
            [this](const std::string& line) { failure_ = broker_failure(line); }, loop...) {
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

  std::optional<std::string> start() override { return link_.start(); }
  bool connected() const override { return link_.connected(); }
  std::string failure() const override { return failure_; }
  bool all_acknowledged() const override { return link_.all_acknowledged(); }
  bool publish(const std::string& topic, const std::string& payload, bool retain) override {
    return link_.publish(topic, payload, retain);
  }
  void subscribe(const std::string& pattern) override { link_.subscribe(pattern); }

 private:
  std::string failure_;
  Link link_;
};
