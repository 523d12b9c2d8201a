#pragma once

#include <string>

#include "broker_connection.h"
#include "mqtt_win/win_mosquitto_link.h"

// relayctl.exe's broker connection on libmosquitto and the Win32 message loop.
class MosquittoConnection : public BrokerConnection {
 public:
  explicit MosquittoConnection(const BrokerAccess& access);

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
  WinMosquittoLink link_;
};
