#pragma once

#include <QObject>

#include "daemon_host.h"

// The daemon on Qt's event loop (the bridge on Linux): Qt's timers and file watcher, the
// POSIX serial port on Qt's descriptor loop, the broker link on Qt's loop, the event log
// in SQLite, and the web page.
class QtDaemonHost final : public DaemonHost {
 public:
  std::unique_ptr<DaemonTimer> timer(std::function<void()> fired, bool precise) override;
  void post(std::function<void()> work) override;
  std::shared_ptr<void> watch_names(const std::filesystem::path& file,
                                    std::function<void()> changed) override;
  std::unique_ptr<MosquittoSession> broker_link(BrokerSettings settings, LogLine log) override;
  DaemonPort serial_port(const std::filesystem::path& link_folder) override;
  std::unique_ptr<BridgePage> web_page(const BridgeOptions& options, const BridgeTopics& topics,
                                       MqttClient& broker,
                                       std::function<void(const MqttMessage&)> command,
                                       LogLine log) override;

  // Where the program lives: the web page's files are found from there.
  std::filesystem::path program_dir;

 private:
  QObject context_;  // what posted work runs on, gone with the host
};
