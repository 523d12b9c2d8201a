#include "mqtt/session_served_port.h"

#include <utility>

#include "mqtt/broker_failure.h"

namespace {
// Hands the link's events to `board`; nullptr lets go of them.
void feed_board(MosquittoSession& link, ServedBoard* board) {
  if (!board) {
    link.on_connected = {};
    link.on_message = {};
    link.on_subscribed = {};
    link.on_publish_refused = {};
    return;
  }
  link.on_connected = [board] { board->connected(); };
  link.on_message = [board](const MqttMessage& message) { board->received(message); };
  link.on_subscribed = [board](const std::string& pattern, bool granted) {
    board->subscribed(pattern, granted);
  };
  link.on_publish_refused = [board](const std::string& topic, const std::string& reason) {
    board->publish_refused(topic, reason);
  };
}
}  // namespace

SessionServedPort::~SessionServedPort() {
  forget_links();
}

void SessionServedPort::forget_links() {
  board_.reset();
  link_.reset();
  leaving_.reset();
}

OpenResult SessionServedPort::open() {
  close();
  OpenResult result;
  result.device = line_url(line_);
  const auto password = line_password(line_);
  if (password.index() == 1) {
    result.reason = std::get<1>(password);
    return result;
  }
  BrokerSettings settings = line_broker_settings(line_, std::get<0>(password));
  // One per panel: two panels on one line must not take each other's session over.
  settings.client_id = "relay_panel-" + std::to_string(process_id_);
  failure_.clear();
  link_ = make_link(settings, [this](const std::string& line) { failure_ = broker_failure(line); });
  if (const auto why = link_->start()) {
    result.reason = *why;
    link_.reset();
    return result;
  }
  // As a device's open, the open answers at once whether the line can be had.
  if (on_waiting) on_waiting(true);
  wait_for_broker([this] { return link_->connected() || !failure_.empty(); });
  if (on_waiting) on_waiting(false);
  if (!link_->connected()) {
    result.reason = failure_.empty() ? std::string(broker_silent) : failure_;
    link_.reset();
    return result;
  }
  MosquittoSession& link = *link_;
  board_ = std::make_unique<ServedBoard>(
      link, line_, [&link] { return link.connected(); },
      [this](std::chrono::milliseconds delay, std::function<void()> task) {
        run_later(delay, std::move(task));
      });
  board_->on_names = on_names;
  board_->on_states = on_states;
  board_->on_switch_refused = on_switch_refused;
  feed_board(link, board_.get());
  result.ok = true;
  return result;
}

void SessionServedPort::close() {
  if (link_) {
    feed_board(*link_, nullptr);
    link_->disconnect(std::chrono::seconds(1), [] {});
    leaving_ = std::move(link_);
  }
  board_.reset();
}
