#include "served_port/served_line_port.h"

#include <unistd.h>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include "mqtt_qt/mosquitto_link.h"
#include "protocol/board_command.h"
#include "protocol/command_frame.h"
#include "protocol/status_frame.h"
#include "served_line/served_line.h"

namespace {
constexpr std::uint8_t code(BoardCommand command) {
  return static_cast<std::uint8_t>(command);
}
}  // namespace

ServedLinePort::ServedLinePort() = default;
ServedLinePort::~ServedLinePort() = default;

OpenResult ServedLinePort::open() {
  close();
  BrokerSettings settings;
  settings.host = line_.host;
  settings.port = line_.port;
  // One per panel: two panels on one line must not take each other's session over.
  settings.client_id = "relay_panel-" + std::to_string(::getpid());
  failure_.clear();
  link_ = std::make_unique<MosquittoLink>(settings, [this](const std::string& line) {
    // "broker H:P not reached (why); trying again in 1 s": the operator needs the why.
    const auto open = line.find('(');
    const auto close = line.rfind(')');
    failure_ =
        open != std::string::npos && close > open ? line.substr(open + 1, close - open - 1) : line;
  });
  link_->on_connected = [this] {
    if (board_) board_->subscribe();
  };
  link_->on_message = [this](const MqttMessage& message) {
    if (board_) board_->received(message);
  };
  link_->on_subscribed = [this](const std::string& pattern, bool granted) {
    if (board_) board_->subscribed(pattern, granted);
  };
  OpenResult result;
  result.device = line_url(line_);
  if (const auto why = link_->start()) {
    result.reason = *why;
    link_.reset();
    return result;
  }
  // As a device's open, the open answers at once whether the line can be had.
  QEventLoop loop;
  QTimer poll;
  const QDeadlineTimer deadline(connect_patience);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (link_->connected() || !failure_.empty() || deadline.hasExpired()) loop.quit();
  });
  poll.start(10);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  if (!link_->connected()) {
    result.reason = failure_.empty() ? "the broker did not answer" : failure_;
    link_.reset();
    return result;
  }
  open_ = true;
  ++session_;
  result.ok = true;
  return result;
}

void ServedLinePort::close() {
  if (link_) {
    link_->disconnect(std::chrono::seconds(1), [] {});
    leaving_ = std::move(link_);
  }
  board_.reset();
  input_.clear();
  open_ = false;
  ++session_;
}

std::optional<std::uint8_t> ServedLinePort::read_byte() {
  if (input_.empty()) return std::nullopt;
  const std::uint8_t byte = input_.front();
  input_.pop_front();
  return byte;
}

void ServedLinePort::write(std::span<const std::uint8_t> bytes) {
  if (!open_ || bytes.size() != frame_size || bytes[0] != CommandFrame::header) return;
  const std::uint8_t address = bytes[1];
  follow_board(address);
  send_command(address, bytes[2], bytes[5], bytes[6]);
  answer(address);
}

void ServedLinePort::follow_board(std::uint8_t address) {
  if (board_ && board_address_ == address) return;
  board_ = std::make_unique<ServedLine>(*link_, line_.prefix, line_.line, address);
  board_address_ = address;
  board_->subscribe();
}

void ServedLinePort::send_command(std::uint8_t address, std::uint8_t command, std::uint8_t data1,
                                  std::uint8_t data2) {
  const BridgeTopics& topics = board_->topics();
  if (command == code(BoardCommand::OpenRelay) || command == code(BoardCommand::CloseRelay)) {
    if (data2 < 1 || data2 > 16) return;
    link_->publish(topics.relay_set(address, data2),
                   command == code(BoardCommand::OpenRelay) ? "ON" : "OFF", false);
  } else if (command == code(BoardCommand::SetAllRelays)) {
    const bool on = data1 == 0xFF && data2 == 0xFF;
    if (!on && (data1 != 0x00 || data2 != 0x00)) return;
    link_->publish(
        topics.prefix() + "/" + topics.line() + "/" + std::to_string(address) + "/all/set",
        on ? "ON" : "OFF", false);
  }
}

void ServedLinePort::answer(std::uint8_t address) {
  const auto states = board_->states();
  if (!link_->connected() || board_->bridge() != Presence::online ||
      board_->board() != Presence::online || !states) {
    return;
  }
  const StatusFrame frame = StatusFrame::build(*states, address);
  input_.insert(input_.end(), frame.bytes.begin(), frame.bytes.end());
  QTimer::singleShot(0, this, [this, session = session_] {
    if (session != session_ || !handler_ || static_cast<int>(input_.size()) < threshold_) return;
    handler_();
  });
}
