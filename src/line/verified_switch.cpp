#include "line/verified_switch.h"

#include "common/board_limits.h"

namespace {

// The host sends the switch back itself, as the requests of its phase.
std::optional<std::string> sent_by_host(const PulseRunner::End&) {
  return std::nullopt;
}

}  // namespace

VerifiedSwitch::VerifiedSwitch(std::uint8_t address, std::uint16_t relays, bool opened,
                               std::optional<Clock::duration> hold)
    : address_(address), relays_(relays), opened_(opened), hold_(hold) {}

VerifiedSwitch::Step VerifiedSwitch::next(Clock::time_point now) {
  switch (phase_) {
    case Phase::over:
      return {};
    case Phase::switch_on:
    case Phase::switch_back:
      if (pending_.size() == planned_) return {pending_.front(), std::nullopt, pending_};
      return {pending_.front(), std::nullopt};
    case Phase::hold: {
      std::vector<PulseRunner::Told> told;
      const auto ends_at = pulses_.step(now, sent_by_host, told);
      if (told.empty()) return {std::nullopt, ends_at};
      enter(Phase::switch_back, now);
      return next(now);
    }
    case Phase::read:
    case Phase::confirm:
    case Phase::verify:
      break;
  }
  return {QueuedSwitch{address_, BoardCommand::QueryStatus, 0x00, 0x00}, std::nullopt};
}

void VerifiedSwitch::answered(std::optional<std::uint16_t> opened, Clock::time_point now) {
  if (opened) shown_ = opened;
  switch (phase_) {
    case Phase::over:
    case Phase::hold:
      return;
    case Phase::switch_on:
    case Phase::switch_back:
      pending_.erase(pending_.begin());
      last_ack_ = opened;
      if (pending_.empty()) enter(phase_ == Phase::switch_on ? Phase::confirm : Phase::verify, now);
      return;
    case Phase::read:
    case Phase::confirm:
    case Phase::verify:
      break;
  }
  ++attempts_;
  if (!opened) {
    if (attempts_ == query_attempts) finish(Result::no_answer);
    return;
  }
  if (phase_ == Phase::read) {
    enter(Phase::switch_on, now);
  } else if (phase_ == Phase::verify) {
    // Every query goes out after the switch back: its answer has the last word.
    std::vector<PulseRunner::Told> told;
    pulses_.reported(
        address_, *opened, [](std::uint16_t) { return true; }, sent_by_host, told, now);
    if (told.empty() || told.front().news == PulseRunner::Told::News::back) {
      return finish(Result::done);
    }
    missed_ = told.front().not_back;
    missed_opened_ = !opened_;
    finish(Result::not_reached);
  } else if (check(*opened, opened_)) {
    if (phase_ == Phase::confirm && hold_) {
      enter(Phase::hold, now);
    } else {
      finish(Result::done);
    }
  }
}

void VerifiedSwitch::interrupt(Clock::time_point now) {
  if (phase_ == Phase::read) finish(Result::not_switched);
  if (phase_ != Phase::hold) return;
  pulses_.cut(now);
  if (const Pulse* pulse = pulses_.find(address_, relays_)) held_ = pulse->held();
  std::vector<PulseRunner::Told> told;
  pulses_.step(now, sent_by_host, told);
  enter(Phase::switch_back, now);
}

void VerifiedSwitch::enter(Phase phase, Clock::time_point now) {
  phase_ = phase;
  attempts_ = 0;
  switch (phase) {
    case Phase::switch_on:
      if (hold_) pulses_.start(address_, relays_, opened_, *hold_, now);
      [[fallthrough]];
    case Phase::switch_back:
      last_ack_ = shown_;
      plan_switches(target(phase));
      if (pending_.empty()) enter(phase == Phase::switch_on ? Phase::confirm : Phase::verify, now);
      return;
    case Phase::confirm: {
      // The answer to the last switch shows the states; a lost or late one is asked again.
      const std::uint16_t wanted = opened_ ? relays_ : 0;
      if (hold_ && last_ack_ && (*last_ack_ & relays_) == wanted) enter(Phase::hold, now);
      return;
    }
    case Phase::read:
    case Phase::hold:
    case Phase::verify:
    case Phase::over:
      return;
  }
}

void VerifiedSwitch::plan_switches(bool opened) {
  const std::uint16_t now = shown_.value_or(0);
  const auto change = static_cast<std::uint16_t>(relays_ & (opened ? ~now : now));
  planned_ = 0;
  if (change == 0) return;
  // All sixteen at once go as one frame, as the panel's bulk buttons send them.
  if (relays_ == 0xFFFF) {
    const std::uint8_t data = opened ? 0xFF : 0x00;
    pending_.push_back({address_, BoardCommand::SetAllRelays, data, data});
    planned_ = pending_.size();
    return;
  }
  for (int relay = 1; relay <= relay_count; ++relay) {
    if ((change & (1u << (relay - 1))) == 0) continue;
    pending_.push_back({address_, opened ? BoardCommand::OpenRelay : BoardCommand::CloseRelay, 0x00,
                        static_cast<std::uint8_t>(relay)});
  }
  planned_ = pending_.size();
}

bool VerifiedSwitch::check(std::uint16_t states, bool opened) {
  const auto missing = static_cast<std::uint16_t>(relays_ & (opened ? ~states : states));
  if (missing == 0) return true;
  missed_ = missing;
  missed_opened_ = opened;
  finish(Result::not_reached);
  return false;
}

void VerifiedSwitch::finish(Result result) {
  result_ = result;
  phase_ = Phase::over;
  pending_.clear();
}
