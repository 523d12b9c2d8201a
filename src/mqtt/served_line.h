#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "mqtt/bridge_topics.h"
#include "mqtt/mqtt_client.h"

enum class Presence { unknown, online, offline };

// What became of a command sent to the bridge, from its result message or the board's
// reported states.
struct ServedOutcome {
  enum class Kind { waiting, done, failed, not_allowed };
  Kind kind = Kind::waiting;
  std::string reason;  // for failed and not_allowed: the bridge's or the broker's words
  std::string result;  // for failed: the bridge's result word ("refused", "not done", ...)
};

// One board of a line that a bridge serves, as a client sees it through the broker: the
// bridge's and the board's availability, the 16 reported states and the names the
// bridge publishes, and the commands this client sends with what became of them. The
// host feeds it the broker's messages and acknowledgements; it talks to the broker only
// through MqttClient.
class ServedLine {
 public:
  ServedLine(MqttClient& client, std::string prefix, std::string line, std::uint8_t address);

  // What to subscribe to, in order; subscribe() sends them all.
  std::vector<std::string> subscriptions() const;
  void subscribe();

  // The broker's word on a subscription, and on a publish it refused (MQTT 5 reason
  // codes, the broker's ACL).
  void subscribed(const std::string& pattern, bool granted);
  void publish_refused(const std::string& topic, const std::string& reason);
  void received(const MqttMessage& message);

  // Whether every subscription has been answered. The broker sends a subscription's
  // retained messages before it answers the next one, and the last (the results) has
  // none: the retained picture is in.
  bool synced() const { return acknowledged_ >= subscriptions().size(); }
  // A subscription the broker refused: this client may not read the line.
  const std::optional<std::string>& refused_subscription() const { return refused_subscription_; }

  Presence bridge() const { return bridge_; }
  Presence board() const { return board_; }
  // The 16 states once each has been reported (bit r-1 for relay r opened).
  std::optional<std::uint16_t> states() const;
  struct Names {
    std::string title;
    std::array<std::string, 16> relays;
  };
  const std::optional<Names>& names() const { return names_; }

  // Commands. Each replaces what the last one waits for.
  // Switches the relays of `relays` that are not yet as asked, as one command; done once
  // the board reports them so.
  void drive(std::uint16_t relays, bool open);
  // A pulse of `relays` as one command, `duration` as the bridge reads it; done once each
  // has been reported opened and closed again.
  void pulse(std::uint16_t relays, const std::string& duration);
  // Asks the bridge to rename relay `relay`; done on the bridge's result.
  void rename(int relay, const std::string& name);
  const ServedOutcome& outcome() const { return outcome_; }
  // The relays of the last drive or pulse not yet as asked.
  std::uint16_t missing() const;

  const BridgeTopics& topics() const { return topics_; }
  std::string names_topic() const;
  std::string rename_topic(int relay) const;

 private:
  void send(const std::string& topic, const std::string& payload);
  // The command topic of one relay, of a list ("1,2") or of all: one command for the bridge.
  std::string command_topic(std::uint16_t relays, const char* leaf) const;
  void state_changed();
  void result_received(const std::string& payload);

  MqttClient& client_;
  BridgeTopics topics_;
  std::uint8_t address_;
  std::size_t acknowledged_ = 0;
  std::optional<std::string> refused_subscription_;
  Presence bridge_ = Presence::unknown;
  Presence board_ = Presence::unknown;
  std::uint16_t opened_ = 0;
  std::uint16_t known_ = 0;
  std::optional<Names> names_;

  enum class Command { none, drive, pulse, rename };
  Command command_ = Command::none;
  std::uint16_t relays_ = 0;
  bool open_ = false;
  std::uint16_t pulse_seen_open_ = 0;  // relays of the pulse reported opened since it went
  std::set<std::string> sent_topics_;
  ServedOutcome outcome_;
};
