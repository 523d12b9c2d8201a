#pragma once

#include <memory>
#include <string>

#include "bridge_rig.h"

// The bridge's rig on a broker that speaks TLS alone (its certificate made out to
// 127.0.0.1), the bridge on it with the broker's CA, and a second broker whose CA is
// another authority and whose certificate is made out to broker.example alone: wrong
// for the first broker, and for its own address.
class TlsBridgeRig : public BridgeRig {
 protected:
  TlsBridgeRig()
      : BridgeRig({}, tls_broker("IP:127.0.0.1")), elsewhere(tls_broker("DNS:broker.example")) {
    EXPECT_TRUE(elsewhere.start()) << elsewhere.error();
  }

  std::unique_ptr<LoggedProcess> start_bridge_online() {
    return BridgeRig::start_bridge_online({"--cafile", broker.ca_file()});
  }
  static std::string url(const MqttBroker& at) {
    return "mqtts://" + at.host() + ":" + std::to_string(at.port());
  }
  // A file of the rig as a Windows program names it, on Wine's drive Z:.
  static std::string windows_path(std::string path) {
    for (char& c : path) c = c == '/' ? '\\' : c;
    return "Z:" + path;
  }

  MqttBroker elsewhere;

 private:
  static MqttBroker::Options tls_broker(const std::string& names) {
    MqttBroker::Options options;
    options.tls = true;
    options.server_names = names;
    return options;
  }
};
