#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "loop/message_window.h"
#include "mqtt/session_served_port.h"

// A line that relayboard-mqtt serves, as the Windows panel's port: the served port on
// the Win32 MQTT link, its later tasks run from the thread's message loop (a timer or a
// posted message of a window of its own).
class WinServedLinePort final : public SessionServedPort {
 public:
  WinServedLinePort();
  ~WinServedLinePort() override;

 protected:
  std::unique_ptr<MosquittoSession> make_link(BrokerSettings settings,
                                              MosquittoSession::LogLine log) override;
  void wait_for_broker(const std::function<bool()>& answered) override;
  void run_later(std::chrono::milliseconds delay, std::function<void()> task) override;

 private:
  void on_message(UINT message, WPARAM wparam);

  MessageWindow window_;
  std::map<UINT_PTR, std::function<void()>> tasks_;  // by timer or posted id
  UINT_PTR next_task_ = 1;
};
