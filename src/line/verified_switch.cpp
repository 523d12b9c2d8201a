#include "line/verified_switch.h"

#include "common/board_limits.h"

VerifiedSwitch::VerifiedSwitch(std::uint8_t address, std::uint16_t relays, bool opened,
                               std::optional<Clock::duration> hold)
    : address_(address), relays_(relays), opened_(opened), hold_(hold) {}

VerifiedSwitch::Step VerifiedSwitch::next(Clock::time_point now) {
  switch (phase_) {
    case Phase::over:
      return {};
    case Phase::switch_on:
    case Phase::switch_back:
      return {pending_.front(), std::nullopt};
    case Phase::hold:
      if (!pulse_->end_due(now)) return {std::nullopt, pulse_->ends_at()};
      enter(Phase::switch_back, now);
      return next(now);
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
    if (pulse_->check(*opened, true) == Pulse::Check::back) return finish(Result::done);
    missed_ = pulse_->not_back(*opened);
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
  pulse_->cut(now);
  enter(Phase::switch_back, now);
}

void VerifiedSwitch::enter(Phase phase, Clock::time_point now) {
  phase_ = phase;
  attempts_ = 0;
  switch (phase) {
    case Phase::switch_on:
      if (hold_) pulse_.emplace(relays_, opened_, *hold_, now);
      [[fallthrough]];
    case Phase::switch_back:
      if (phase == Phase::switch_back) pulse_->end_sent();
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
  if (change == 0) return;
  // All sixteen at once go as one frame, as the panel's bulk buttons send them.
  if (relays_ == 0xFFFF) {
    const std::uint8_t data = opened ? 0xFF : 0x00;
    pending_.push_back({address_, BoardCommand::SetAllRelays, data, data});
    return;
  }
  for (int relay = 1; relay <= relay_count; ++relay) {
    if ((change & (1u << (relay - 1))) == 0) continue;
    pending_.push_back({address_, opened ? BoardCommand::OpenRelay : BoardCommand::CloseRelay, 0x00,
                        static_cast<std::uint8_t>(relay)});
  }
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
