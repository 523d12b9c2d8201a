#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>

#include "mqtt/mosquitto_session.h"

// The broker connection on libmosquitto, driven from Qt's event loop on the program's
// one thread: socket notifiers for the broker's socket and Qt timers.
class MosquittoLink : public QObject, public MosquittoSession {
 public:
  MosquittoLink(BrokerSettings settings, LogLine log);
  ~MosquittoLink() override;
  // The broker's disconnect, not QObject's.
  using MosquittoSession::disconnect;

 protected:
  void watch_socket(int socket) override;
  void want_write(bool wanted) override;
  void start_timer(Timer timer, std::chrono::milliseconds after) override;
  void stop_timer(Timer timer) override;
  void later(std::function<void()> work) override;

 private:
  QTimer& timer(Timer which);
  void forget_socket();

  std::unique_ptr<QSocketNotifier> reader_;
  std::unique_ptr<QSocketNotifier> writer_;
  QTimer misc_timer_;
  QTimer retry_timer_;
  QTimer leave_timer_;
};
