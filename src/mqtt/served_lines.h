#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "mqtt/mqtt_client.h"
#include "mqtt/served_line.h"

// The lines and boards that bridges have left on a broker under one prefix, from their
// retained statuses.
class ServedLines {
 public:
  struct Line {
    Presence bridge = Presence::unknown;
    std::map<std::uint8_t, Presence> boards;
  };

  ServedLines(MqttClient& client, std::string prefix);
  // The statuses, then a pattern with no retained messages whose answer says that the
  // statuses' retained messages are in.
  std::vector<std::string> subscriptions() const;
  void subscribe();
  void subscribed(const std::string& pattern, bool granted);
  void received(const MqttMessage& message);

  bool synced() const { return acknowledged_ >= subscriptions().size(); }
  const std::optional<std::string>& refused_subscription() const { return refused_; }
  const std::map<std::string, Line>& lines() const { return lines_; }

 private:
  MqttClient& client_;
  std::string prefix_;
  std::size_t acknowledged_ = 0;
  std::optional<std::string> refused_;
  std::map<std::string, Line> lines_;
};
