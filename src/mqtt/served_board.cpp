#include "mqtt/served_board.h"

#include <utility>

#include "text/json_text.h"

ServedBoard::ServedBoard(MqttClient& client, ServedLineAddress line,
                                 std::function<bool()> broker_up, Later later)
    : client_(client),
      line_(std::move(line)),
      broker_up_(std::move(broker_up)),
      later_(std::move(later)) {}

ServedBoard::~ServedBoard() {
  if (rename_done_) {
    finish_rename({ServedOutcome::Kind::failed, "the line was closed", "not answered"});
  }
}

void ServedBoard::connected() {
  if (board_) board_->subscribe();
  if (renamer_) renamer_->subscribe();
}

void ServedBoard::received(const MqttMessage& message) {
  if (renamer_) renamer_->received(message);
  check_rename();
  if (!board_) return;
  const bool names = message.topic == board_->names_topic();
  board_->received(message);
  if (names && on_names) on_names();
  tell_states();
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

void ServedBoard::subscribed(const std::string& pattern, bool granted) {
  if (board_) board_->subscribed(pattern, granted);
}

void ServedBoard::publish_refused(const std::string& topic, const std::string& reason) {
  if (!switch_topic_.empty() && topic == switch_topic_) switch_refused(reason, true);
  if (!renamer_) return;
  renamer_->publish_refused(topic, reason);
  check_rename();
}

void ServedBoard::follow(std::uint8_t address) {
  if (board_ && board_address_ == address) {
    tell_states();
    return;
  }
  board_ = std::make_unique<ServedLine>(client_, line_.prefix, line_.line, address);
  board_address_ = address;
  told_.reset();
  board_->subscribe();
  if (on_names) on_names();
  tell_states();
}

void ServedBoard::tell_states() {
  if (!board_) return;
  std::optional<std::uint16_t> states = board_->states();
  if (!broker_up_() || board_->bridge() != Presence::online ||
      board_->board() != Presence::online) {
    states.reset();
  }
  if (told_.has_value() && *told_ == states) return;
  told_ = states;
  if (on_states) on_states(board_address_, states);
}

std::optional<ServedLine::Names> ServedBoard::names(std::uint8_t address) const {
  if (!board_ || board_address_ != address) return std::nullopt;
  return board_->names();
}

void ServedBoard::switch_relays(std::uint8_t address, int relay, bool on) {
  follow(address);
  const BridgeTopics& topics = board_->topics();
  switch_ = {relay, on, false, {}};
  switch_topic_ = relay > 0 ? topics.relay_set(address, relay)
                            : topics.prefix() + "/" + topics.line() + "/" +
                                  std::to_string(address) + "/all/set";
  // A publish the client cannot even queue (the broker gone) is no switch sent.
  if (!client_.publish(switch_topic_, on ? "ON" : "OFF", false)) {
    switch_refused("the broker connection was lost", false);
  }
}

void ServedBoard::switch_refused(std::string reason, bool not_allowed) {
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

void ServedBoard::later(std::chrono::milliseconds delay, std::function<void()> task) {
  later_(delay, [alive = std::weak_ptr<char>(alive_), task = std::move(task)] {
    if (!alive.expired()) task();
  });
}

void ServedBoard::rename(std::uint8_t address, int relay, const std::string& name,
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

void ServedBoard::check_rename() {
  if (rename_done_ && renamer_ && renamer_->outcome().kind != ServedOutcome::Kind::waiting) {
    finish_rename(renamer_->outcome());
  }
}

// The answer reaches the asker even when the session ends before it is delivered.
void ServedBoard::finish_rename(const ServedOutcome& outcome) {
  later_(std::chrono::milliseconds(0),
         [done = std::exchange(rename_done_, {}), outcome] { done(outcome); });
}
