#include "line/local_line.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "common/board_limits.h"

namespace {

std::uint16_t bit(int relay) {
  return static_cast<std::uint16_t>(1u << ((relay - 1) & 15));
}

// The relays a frame switches, and those of them it opens.
struct Switched {
  std::uint16_t relays = 0;
  std::uint16_t opened = 0;
};

Switched switched_by(const QueuedSwitch& frame) {
  switch (frame.command) {
    case BoardCommand::OpenRelay:
      return {bit(frame.data2), bit(frame.data2)};
    case BoardCommand::CloseRelay:
      return {bit(frame.data2), 0};
    case BoardCommand::SetAllRelays:
      return {0xFFFF, static_cast<std::uint16_t>(frame.data1 << 8 | frame.data2)};
    case BoardCommand::QueryStatus:
      break;
  }
  return {};
}

}  // namespace

LocalLine::LocalLine(SerialPort& port, std::vector<std::uint8_t> addresses, LineTiming timing)
    : engine_(port, std::move(addresses), *this, timing) {}

std::optional<SwitchRefusal> LocalLine::command(const SwitchCommand& command,
                                                Clock::time_point now) {
  if (auto refusal = engine_.queue_switches(command)) return refusal;
  for (const QueuedSwitch& frame : command.frames) {
    const Switched switched = switched_by(frame);
    // A later command takes its relays from any pulse; a pulse holds the relays it opens,
    // each relay's end its own: checked by the board, sent again, on its own.
    pulses_.forget(frame.address, switched.relays);
    if (!command.pulse) continue;
    for (int relay = 1; relay <= relay_count; ++relay) {
      if (switched.opened & bit(relay))
        pulses_.start(frame.address, bit(relay), true, *command.pulse, now);
    }
  }
  return std::nullopt;
}

LocalLine::Clock::time_point LocalLine::step(Clock::time_point now) {
  std::vector<PulseRunner::Told> told;
  // A line that cannot take the frame owes the end to the board's next answer.
  const auto end = pulses_.step(
      now, [this](const PulseRunner::End& e) { return send_end(e); }, told);
  tell(told);
  const auto next = engine_.step(now);
  return end ? std::min(*end, next) : next;
}

void LocalLine::switch_sent(const QueuedSwitch& frame, Clock::time_point now) {
  if (const auto opened = switched_by(frame).opened)
    pulses_.went_out(frame.address, opened, true, now);
}

void LocalLine::end_pulses(Clock::time_point now) {
  std::vector<PulseRunner::Told> told;
  pulses_.stop(
      now, [this](const PulseRunner::End& e) { return send_end(e); }, told);
  tell(told);
}

void LocalLine::set_device_lost(bool lost) {
  engine_.set_device_lost(lost);
  if (!lost) return;
  pulses_.lost(std::nullopt);
  events_->line_lost();
}

std::optional<std::string> LocalLine::send_end(const PulseRunner::End& end) {
  const auto refusal = engine_.queue_switch(
      end.address, end.opened ? BoardCommand::OpenRelay : BoardCommand::CloseRelay, 0x00,
      static_cast<std::uint8_t>(std::countr_zero(end.relays) + 1), SwitchLane::first);
  if (refusal) return refusal_text(*refusal);
  events_->pulse_end_sent(end);
  return std::nullopt;
}

void LocalLine::tell(const std::vector<PulseRunner::Told>& told) {
  for (const PulseRunner::Told& each : told) events_->pulse_told(each);
}

void LocalLine::board_answered(std::uint8_t address, std::uint16_t opened) {
  events_->board_answered(address, opened);
  // Whether a pulse's end has reached the board, as the line knows it: an answer to a
  // request that went out before it still shows the relay on, and proves nothing.
  const auto end_done = [&](std::uint16_t relays) {
    return engine_.commanded(address, std::countr_zero(relays) + 1) == true;
  };
  std::vector<PulseRunner::Told> told;
  pulses_.reported(
      address, opened, end_done, [this](const PulseRunner::End& end) { return send_end(end); },
      told, answer_time_);
  tell(told);
}

void LocalLine::board_lost(std::uint8_t address) {
  pulses_.lost(address);
  events_->board_lost(address);
}

OwedState LocalLine::owed() const {
  return {engine_.owed_on(), pulses_.owed()};
}

void LocalLine::recall(const OwedState& owed, Clock::time_point now) {
  engine_.recall_on(owed.on, now);
  for (const OwedState::PulseEnd& pulse : owed.pulses) pulses_.recall(pulse, now);
}
