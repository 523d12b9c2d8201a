#include "served_line/served_board_port.h"

#include <utility>

#include "protocol/board_command.h"
#include "protocol/command_frame.h"
#include "protocol/status_frame.h"
#include "text/json_text.h"

namespace {
constexpr std::uint8_t code(BoardCommand command) {
  return static_cast<std::uint8_t>(command);
}
}  // namespace

ServedBoardPort::ServedBoardPort(MqttClient& client, ServedLineAddress line,
                                 std::function<bool()> broker_up, Later later)
    : client_(client),
      line_(std::move(line)),
      broker_up_(std::move(broker_up)),
      later_(std::move(later)) {}

ServedBoardPort::~ServedBoardPort() {
  if (rename_done_) {
    finish_rename({ServedOutcome::Kind::failed, "the line was closed", "not answered"});
  }
}

void ServedBoardPort::connected() {
  if (board_) board_->subscribe();
  if (renamer_) renamer_->subscribe();
}

void ServedBoardPort::received(const MqttMessage& message) {
  if (renamer_) renamer_->received(message);
  check_rename();
  if (!board_) return;
  const bool names = message.topic == board_->names_topic();
  board_->received(message);
  if (names && on_names) on_names();
  if (!switch_topic_.empty() && message.topic == board_->topics().board_result(board_address_)) {
    const auto fields = json_object(message.payload);
    if (!fields || json_text_field(*fields, "command") != switch_topic_ ||
        json_text_field(*fields, "payload") != (switch_.on ? "ON" : "OFF")) {
      return;
    }
    // Only what the bridge would not take or could not send is a refusal: a command
    // "not done" was overtaken by a later one, the operator's or another's.
    const std::string result = json_text_field(*fields, "result").value_or("");
    if (result == "done") {
      switch_topic_.clear();
    } else if (result == "refused" || result == "not sent") {
      const std::string reason = json_text_field(*fields, "reason").value_or("");
      switch_refused(reason.empty() ? result : reason, false);
    }
  }
}

void ServedBoardPort::subscribed(const std::string& pattern, bool granted) {
  if (board_) board_->subscribed(pattern, granted);
}

void ServedBoardPort::publish_refused(const std::string& topic, const std::string& reason) {
  if (!switch_topic_.empty() && topic == switch_topic_) switch_refused(reason, true);
  if (!renamer_) return;
  renamer_->publish_refused(topic, reason);
  check_rename();
}

std::optional<std::uint8_t> ServedBoardPort::read_byte() {
  if (input_.empty()) return std::nullopt;
  const std::uint8_t byte = input_.front();
  input_.pop_front();
  return byte;
}

void ServedBoardPort::write(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != frame_size || bytes[0] != CommandFrame::header) return;
  const std::uint8_t address = bytes[1];
  follow(address);
  send_command(address, bytes[2], bytes[5], bytes[6]);
  answer(address);
}

void ServedBoardPort::follow(std::uint8_t address) {
  if (board_ && board_address_ == address) return;
  board_ = std::make_unique<ServedLine>(client_, line_.prefix, line_.line, address);
  board_address_ = address;
  board_->subscribe();
  if (on_names) on_names();
}

std::optional<ServedLine::Names> ServedBoardPort::names(std::uint8_t address) const {
  if (!board_ || board_address_ != address) return std::nullopt;
  return board_->names();
}

void ServedBoardPort::send_command(std::uint8_t address, std::uint8_t command, std::uint8_t data1,
                                   std::uint8_t data2) {
  const BridgeTopics& topics = board_->topics();
  if (command == code(BoardCommand::OpenRelay) || command == code(BoardCommand::CloseRelay)) {
    if (data2 < 1 || data2 > 16) return;
    switch_ = {data2, command == code(BoardCommand::OpenRelay), false, {}};
    switch_topic_ = topics.relay_set(address, data2);
  } else if (command == code(BoardCommand::SetAllRelays)) {
    const bool on = data1 == 0xFF && data2 == 0xFF;
    if (!on && (data1 != 0x00 || data2 != 0x00)) return;
    switch_ = {0, on, false, {}};
    switch_topic_ =
        topics.prefix() + "/" + topics.line() + "/" + std::to_string(address) + "/all/set";
  } else {
    return;
  }
  client_.publish(switch_topic_, switch_.on ? "ON" : "OFF", false);
}

void ServedBoardPort::switch_refused(std::string reason, bool not_allowed) {
  switch_topic_.clear();
  SwitchRefusal refusal = switch_;
  refusal.not_allowed = not_allowed;
  refusal.reason = std::move(reason);
  // Told from the host's loop, not inside the broker's event, and not once the line
  // has closed.
  later(std::chrono::milliseconds(0), [this, refusal = std::move(refusal)] {
    if (on_switch_refused) on_switch_refused(refusal);
  });
}

void ServedBoardPort::answer(std::uint8_t address) {
  const auto states = board_->states();
  if (!broker_up_() || board_->bridge() != Presence::online ||
      board_->board() != Presence::online || !states) {
    return;
  }
  const StatusFrame frame = StatusFrame::build(*states, address);
  input_.insert(input_.end(), frame.bytes.begin(), frame.bytes.end());
  later(std::chrono::milliseconds(0), [this] {
    if (handler_ && static_cast<int>(input_.size()) >= threshold_) handler_();
  });
}

void ServedBoardPort::later(std::chrono::milliseconds delay, std::function<void()> task) {
  later_(delay, [alive = std::weak_ptr<char>(alive_), task = std::move(task)] {
    if (!alive.expired()) task();
  });
}

void ServedBoardPort::rename(std::uint8_t address, int relay, const std::string& name,
                             std::function<void(const ServedOutcome&)> done) {
  if (rename_done_)
    finish_rename({ServedOutcome::Kind::failed, "another rename took its place", "not answered"});
  rename_done_ = std::move(done);
  const std::uint64_t number = ++renames_;
  if (!broker_up_() || (board_ && board_->bridge() == Presence::offline)) {
    finish_rename(
        {ServedOutcome::Kind::failed, "the bridge that serves the line is offline", "not sent"});
    return;
  }
  // A board of its own: the panel may turn to another address before the bridge answers.
  if (!renamer_ || renamer_address_ != address) {
    renamer_ = std::make_unique<ServedLine>(client_, line_.prefix, line_.line, address);
    renamer_address_ = address;
    renamer_->subscribe();
  }
  renamer_->rename(relay, name);
  check_rename();
  later(rename_patience, [this, number] {
    if (number != renames_ || !rename_done_) return;
    finish_rename({ServedOutcome::Kind::failed, "the bridge did not answer", "not answered"});
  });
}

void ServedBoardPort::check_rename() {
  if (rename_done_ && renamer_ && renamer_->outcome().kind != ServedOutcome::Kind::waiting) {
    finish_rename(renamer_->outcome());
  }
}

// The answer reaches the asker even when the session ends before it is delivered.
void ServedBoardPort::finish_rename(const ServedOutcome& outcome) {
  later_(std::chrono::milliseconds(0),
         [done = std::exchange(rename_done_, {}), outcome] { done(outcome); });
}
