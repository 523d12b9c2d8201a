#include "served_port_win/win_served_line_port.h"

#include <utility>

#include "link_win/win_event_wait.h"
#include "mqtt_win/win_mosquitto_link.h"

namespace {
// A task due at once comes as this message, its id in wparam; later ones as timers.
constexpr UINT task_due = WM_APP + 1;
}  // namespace

WinServedLinePort::WinServedLinePort()
    : window_([this](UINT message, WPARAM wparam, LPARAM) { on_message(message, wparam); }) {}

WinServedLinePort::~WinServedLinePort() {
  board_.reset();
  link_.reset();
  leaving_.reset();
}

OpenResult WinServedLinePort::open() {
  close();
  OpenResult result;
  result.device = line_url(line_);
  if (line_.tls) {
    result.reason =
        "mqtts:// cannot be used: TLS is not available in the Windows build of relay_panel "
        "(plain mqtt:// only)";
    return result;
  }
  const auto password = line_password(line_);
  if (password.index() == 1) {
    result.reason = std::get<1>(password);
    return result;
  }
  BrokerSettings settings;
  settings.host = line_.host;
  settings.port = line_.port;
  settings.user = line_.user;
  settings.password = std::get<0>(password);
  // One per panel: two panels on one line must not take each other's session over.
  settings.client_id = "relay_panel-" + std::to_string(GetCurrentProcessId());
  failure_.clear();
  link_ = std::make_unique<WinMosquittoLink>(
      settings, [this](const std::string& line) { failure_ = broker_failure(line); });
  if (const auto why = link_->start()) {
    result.reason = *why;
    link_.reset();
    return result;
  }
  // As a device's open, the open answers at once whether the line can be had.
  if (on_waiting) on_waiting(true);
  WinEventWait().wait_until([this] { return link_->connected() || !failure_.empty(); },
                            WinEventWait::Clock::now() + connect_patience);
  if (on_waiting) on_waiting(false);
  if (!link_->connected()) {
    result.reason = failure_.empty() ? std::string(broker_silent) : failure_;
    link_.reset();
    return result;
  }
  WinMosquittoLink& link = *link_;
  board_ = std::make_unique<ServedBoardPort>(
      link, line_, [&link] { return link.connected(); },
      [this](std::chrono::milliseconds delay, std::function<void()> task) {
        run_later(delay, std::move(task));
      });
  board_->set_receive_threshold(threshold_);
  board_->set_receive_handler(handler_);
  board_->on_names = on_names;
  feed_board(link, board_.get());
  result.ok = true;
  return result;
}

void WinServedLinePort::close() {
  if (link_) {
    feed_board(*link_, nullptr);
    link_->disconnect(std::chrono::seconds(1), [] {});
    leaving_ = std::move(link_);
  }
  board_.reset();
}

void WinServedLinePort::set_receive_threshold(int bytes) {
  threshold_ = bytes;
  if (board_) board_->set_receive_threshold(bytes);
}

void WinServedLinePort::set_receive_handler(std::function<void()> handler) {
  handler_ = std::move(handler);
  if (board_) board_->set_receive_handler(handler_);
}

std::optional<std::uint8_t> WinServedLinePort::read_byte() {
  return board_ ? board_->read_byte() : std::nullopt;
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
