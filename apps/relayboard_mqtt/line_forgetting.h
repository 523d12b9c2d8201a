#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bridge_options.h"
#include "broker_settings.h"
#include "daemon_host.h"
#include "mqtt/bridge_topics.h"
#include "mqtt/mosquitto_session.h"
#include "mqtt/retained_snapshot.h"

// --forget-line NAME: clears what a line that no bridge serves any more left on the
// broker (its retained topics and its boards' discovery documents, so that no ghost
// device stays in the home automation). Connects without a last will, reads the retained
// topics, refuses while a bridge still serves the line, sends an empty retained message
// to each topic of the line, and leaves once the broker has acknowledged them all.
class LineForgetting {
 public:
  using LogLine = std::function<void(const std::string&)>;

  // On `host`'s loop, which outlives this.
  LineForgetting(DaemonHost& host, const BridgeOptions& options, LogLine log);

  // Starts; `done` gets the exit status: 0 when every topic is cleared (the count on
  // standard output), 2 when a bridge serves the line, 1 when the broker failed us.
  // Why not, when the link cannot start at all.
  std::optional<std::string> start(std::function<void(int)> done);

  // How long the whole may take, the broker's answers included.
  static constexpr std::chrono::seconds patience{30};

 private:
  void take(const MqttMessage& message);
  void finish(int status);

  BridgeTopics topics_;
  LogLine log_;
  std::unique_ptr<MosquittoSession> link_;
  RetainedSnapshot snapshot_;
  std::unique_ptr<DaemonTimer> patience_timer_;
  std::function<void(int)> done_;
};
