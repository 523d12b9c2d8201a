#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "bridge/bridge_names.h"
#include "event_log/event.h"
#include "mqtt/bridge_topics.h"
#include "mqtt/mosquitto_session.h"
#include "serial/serial_port.h"

struct BridgeOptions;

// A single-shot timer on the host's event loop: start() replaces a pending expiry.
class DaemonTimer {
 public:
  virtual ~DaemonTimer() = default;
  virtual void start(std::chrono::milliseconds after) = 0;
  virtual void stop() = 0;
};

// The serial port as the bridge drives it, and whether its device has gone away while it
// counts as open (each system's port tells that in its own way).
struct DaemonPort {
  std::unique_ptr<SerialPort> port;
  std::function<bool()> device_lost;
};

// The web page as the daemon sees it (a host that serves one): the core publishes
// through its tap, and it hears of names and events.
class BridgePage {
 public:
  virtual ~BridgePage() = default;
  virtual MqttClient& broker() = 0;
  virtual void names_changed(const BridgeNames& names) = 0;
  virtual void event(const Event& event) = 0;
  // The event log is open: the page opens with its newest events.
  virtual void log_opened(const std::filesystem::path& file) = 0;
  // Listens; why not, when the page cannot be served.
  virtual std::optional<std::string> start() = 0;
  virtual std::string url() const = 0;
};

// What the daemon's logic takes from the program it runs in: the event loop (timers, work
// handed over from other threads, the name file's watch) and the system's parts (the
// broker link on that loop, the serial port, the event log, the web page).
class DaemonHost {
 public:
  using LogLine = std::function<void(const std::string&)>;

  virtual ~DaemonHost() = default;
  // `precise`: to the millisecond, for the line's rhythm, where a loop's ordinary timers
  // may fire late.
  virtual std::unique_ptr<DaemonTimer> timer(std::function<void()> fired, bool precise) = 0;
  // Runs `work` on the loop's thread soon; callable from any thread.
  virtual void post(std::function<void()> work) = 0;
  // Calls `changed` (on the loop) when the name file may have changed; nothing is watched
  // for an empty path. The watch lasts as long as what is returned.
  virtual std::shared_ptr<void> watch_names(const std::filesystem::path& file,
                                            std::function<void()> changed) = 0;
  virtual std::unique_ptr<MosquittoSession> broker_link(BrokerSettings settings, LogLine log) = 0;
  // `link_folder`: where the com<n> links are, empty for none.
  virtual DaemonPort serial_port(const std::filesystem::path& link_folder) = 0;
  // The web page of --web; none where the host serves none.
  virtual std::unique_ptr<BridgePage> web_page(const BridgeOptions& options,
                                               const BridgeTopics& topics, MqttClient& broker,
                                               std::function<void(const MqttMessage&)> command,
                                               LogLine log) {
    (void)options, (void)topics, (void)broker, (void)command, (void)log;
    return nullptr;
  }
};
