#pragma once

#include <windows.h>

#include <deque>
#include <mutex>
#include <set>

#include "daemon_host.h"
#include "loop/message_window.h"
#include "loop/waitable_timer.h"

// The daemon on the Win32 message loop of the program's one thread (the bridge on
// Windows): its timers share one waitable timer set to the earliest of them, which the
// loop waits on beside the thread's messages; work from other threads and the name
// file's news come as messages to a window of the host's. The COM port, libmosquitto on
// the same loop; no web page yet.
class WinDaemonHost final : public DaemonHost {
 public:
  WinDaemonHost();
  ~WinDaemonHost() override;

  std::unique_ptr<DaemonTimer> timer(std::function<void()> fired, bool precise) override;
  void post(std::function<void()> work) override;
  std::shared_ptr<void> watch_names(const std::filesystem::path& file,
                                    std::function<void()> changed) override;
  std::unique_ptr<MosquittoSession> broker_link(BrokerSettings settings, LogLine log) override;
  DaemonPort serial_port(const std::filesystem::path& link_folder) override;

  // Runs the loop until quit(); the status quit() was given.
  int run();
  // Callable from any thread.
  void quit(int status);

  class Timer;

 private:
  friend class Timer;
  void arm();  // the waitable timer to the earliest pending timer
  void fire_due();
  void on_message(UINT message, WPARAM wparam, LPARAM lparam);

  MessageWindow window_;
  WaitableTimer wake_;
  std::set<Timer*> timers_;
  std::mutex posted_mutex_;
  std::deque<std::function<void()>> posted_;
  std::optional<int> quit_;
};
