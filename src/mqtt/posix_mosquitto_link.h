#pragma once

#include <array>
#include <optional>

#include "loop/event_loop.h"
#include "mqtt/mosquitto_session.h"

// The broker connection on libmosquitto, driven by the program's poll() event loop,
// which is handed in: a link loaded with a module of its own must not make a loop there.
class PosixMosquittoLink : public MosquittoSession {
 public:
  PosixMosquittoLink(BrokerSettings settings, LogLine log, EventLoop& loop);
  ~PosixMosquittoLink() override;

 protected:
  void watch_socket(int socket) override;
  void want_write(bool wanted) override;
  void start_timer(Timer timer, std::chrono::milliseconds after) override;
  void stop_timer(Timer timer) override;
  void later(std::function<void()> work) override;

 private:
  EventLoop& loop_;
  std::optional<EventLoop::Id> watch_;
  std::array<std::optional<EventLoop::Id>, 3> timers_;
};
