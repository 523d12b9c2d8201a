#include "served_port/served_line_port.h"

#include <unistd.h>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include "mqtt_qt/mosquitto_link.h"

ServedLinePort::ServedLinePort() = default;
ServedLinePort::~ServedLinePort() = default;

OpenResult ServedLinePort::open() {
  close();
  OpenResult result;
  result.device = line_url(line_);
  const auto password = line_password(line_);
  if (password.index() == 1) {
    result.reason = std::get<1>(password);
    return result;
  }
  BrokerSettings settings;
  settings.host = line_.host;
  settings.port = line_.port;
  settings.cafile = line_.cafile;
  settings.user = line_.user;
  settings.password = std::get<0>(password);
  // One per panel: two panels on one line must not take each other's session over.
  settings.client_id = "relay_panel-" + std::to_string(::getpid());
  failure_.clear();
  link_ = std::make_unique<MosquittoLink>(
      settings, [this](const std::string& line) { failure_ = broker_failure(line); });
  if (const auto why = link_->start()) {
    result.reason = *why;
    link_.reset();
    return result;
  }
  // As a device's open, the open answers at once whether the line can be had.
  if (on_waiting) on_waiting(true);
  QEventLoop loop;
  QTimer poll;
  const QDeadlineTimer deadline(connect_patience);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (link_->connected() || !failure_.empty() || deadline.hasExpired()) loop.quit();
  });
  poll.start(10);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  if (on_waiting) on_waiting(false);
  if (!link_->connected()) {
    result.reason = failure_.empty() ? std::string(broker_silent) : failure_;
    link_.reset();
    return result;
  }
  MosquittoLink& link = *link_;
  board_ = std::make_unique<ServedBoardPort>(
      link, line_, [&link] { return link.connected(); },
      [this](std::chrono::milliseconds delay, std::function<void()> task) {
        QTimer::singleShot(delay, this, std::move(task));
      });
  board_->set_receive_threshold(threshold_);
  board_->set_receive_handler(handler_);
  board_->on_names = on_names;
  feed_board(link, board_.get());
  result.ok = true;
  return result;
}

void ServedLinePort::close() {
  if (link_) {
    feed_board(*link_, nullptr);
    link_->disconnect(std::chrono::seconds(1), [] {});
    leaving_ = std::move(link_);
  }
  board_.reset();
}

void ServedLinePort::set_receive_threshold(int bytes) {
  threshold_ = bytes;
  if (board_) board_->set_receive_threshold(bytes);
}

void ServedLinePort::set_receive_handler(std::function<void()> handler) {
  handler_ = std::move(handler);
  if (board_) board_->set_receive_handler(handler_);
}

std::optional<std::uint8_t> ServedLinePort::read_byte() {
  return board_ ? board_->read_byte() : std::nullopt;
}
