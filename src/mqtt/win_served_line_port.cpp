#include "mqtt/win_served_line_port.h"

#include <utility>

#include "loop/win_event_wait.h"
#include "mqtt/win_mosquitto_link.h"

namespace {
// A task due at once comes as this message, its id in wparam; later ones as timers.
constexpr UINT task_due = WM_APP + 1;
}  // namespace

WinServedLinePort::WinServedLinePort()
    : SessionServedPort(GetCurrentProcessId()),
      window_([this](UINT message, WPARAM wparam, LPARAM) { on_message(message, wparam); }) {}

// The links go before the window that runs their tasks.
WinServedLinePort::~WinServedLinePort() {
  forget_links();
}

std::unique_ptr<MosquittoSession> WinServedLinePort::make_link(BrokerSettings settings,
                                                               MosquittoSession::LogLine log) {
  return std::make_unique<WinMosquittoLink>(std::move(settings), std::move(log));
}

void WinServedLinePort::wait_for_broker(const std::function<bool()>& answered) {
  WinEventWait().wait_until(answered, WinEventWait::Clock::now() + connect_patience);
}

void WinServedLinePort::run_later(std::chrono::milliseconds delay, std::function<void()> task) {
  const UINT_PTR id = next_task_++;
  tasks_.emplace(id, std::move(task));
  if (delay.count() <= 0) {
    window_.post(task_due, id);
  } else {
    SetTimer(window_.handle(), id, static_cast<UINT>(delay.count()), nullptr);
  }
}

void WinServedLinePort::on_message(UINT message, WPARAM wparam) {
  if (message == WM_TIMER) KillTimer(window_.handle(), wparam);
  if (message != WM_TIMER && message != task_due) return;
  const auto found = tasks_.find(wparam);
  if (found == tasks_.end()) return;
  auto task = std::move(found->second);
  tasks_.erase(found);
  task();
}
