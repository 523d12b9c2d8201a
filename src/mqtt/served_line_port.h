#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>

#include "mqtt/session_served_port.h"

// A line that relayboard-mqtt serves, as the Qt panel's port: the served port on the Qt
// MQTT link and event loop.
class ServedLinePort : public QObject, public SessionServedPort {
 public:
  ServedLinePort();
  ~ServedLinePort() override;

 protected:
  std::unique_ptr<MosquittoSession> make_link(BrokerSettings settings,
                                              MosquittoSession::LogLine log) override;
  void wait_for_broker(const std::function<bool()>& answered) override;
  void run_later(std::chrono::milliseconds delay, std::function<void()> task) override;
};
