#include "line/pulse.h"

#include <algorithm>

Pulse::Pulse(std::uint16_t relays, bool opened, Clock::duration hold, Clock::time_point start)
    : relays_(relays), opened_(opened), hold_(hold), start_(start) {}

void Pulse::went_out(Clock::time_point now) {
  if (out_ || cut_ || ends_sent_ > 0) return;
  out_ = true;
  start_ = now;
}

void Pulse::cut(Clock::time_point now) {
  // Once the switch back is out, the pulse is over and keeps its length.
  if (ends_sent_ > 0 || cut_) return;
  cut_ = std::max(now - start_, Clock::duration::zero());
}

std::uint16_t Pulse::not_back(std::uint16_t reported) const {
  return static_cast<std::uint16_t>(relays_ & (opened_ ? reported : ~reported));
}

Pulse::Check Pulse::check(std::uint16_t reported, bool end_done) const {
  if (not_back(reported) == 0) return Check::back;
  return end_done ? Check::still_switched : Check::waiting;
}

PulseRunner::End PulseRunner::end_of(const Entry& entry) {
  return {entry.first.first, entry.first.second, !entry.second.opened};
}

void PulseRunner::start(std::uint8_t address, std::uint16_t relays, bool opened,
                        Clock::duration hold, Clock::time_point start) {
  forget(address, relays);
  running_.insert_or_assign({address, relays}, Running{Pulse(relays, opened, hold, start), opened});
}

void PulseRunner::went_out(std::uint8_t address, std::uint16_t relays, bool opened,
                           Clock::time_point now) {
  for (auto& [key, running] : running_) {
    if (key.first == address && (key.second & relays) != 0 && running.opened == opened)
      running.pulse.went_out(now);
  }
}

void PulseRunner::forget(std::uint8_t address, std::uint16_t relays) {
  std::erase_if(running_, [&](const auto& entry) {
    return entry.first.first == address && (entry.first.second & relays) != 0;
  });
}

std::optional<PulseRunner::Clock::time_point> PulseRunner::step(Clock::time_point now,
                                                                const Send& send,
                                                                std::vector<Told>& told) {
  std::optional<Clock::time_point> next;
  const auto wake_at = [&next](Clock::time_point at) { next = next ? std::min(*next, at) : at; };
  for (auto& entry : running_) {
    Running& running = entry.second;
    if (running.owed) continue;
    if (running.pulse.ends_sent() > 0) {
      // An end given a count of sends is sent again only at reports.
      if (sends_of_an_end_ != until_back) continue;
      if (running.resend.due(now)) send_again(entry, now, send, told);
      if (!running.owed) wake_at(running.resend.again_at());
      continue;
    }
    if (!running.pulse.end_due(now)) {
      wake_at(running.pulse.ends_at());
      continue;
    }
    if (send(end_of(entry))) {
      running.owed = true;
      continue;
    }
    running.pulse.end_sent();
    running.resend.sent(now);
    wake_at(running.resend.again_at());
    told.push_back({end_of(entry), Told::News::ended});
  }
  return next;
}

void PulseRunner::send_again(Entry& entry, Clock::time_point now, const Send& send,
                             std::vector<Told>& told) {
  Running& running = entry.second;
  const End end = end_of(entry);
  told.push_back({end,
                  Told::News::sent_again,
                  {},
                  0,
                  running.pulse.ends_sent() + 1,
                  running.resend.first_retry()});
  if (send(end)) {
    running.owed = true;
    return;
  }
  running.pulse.end_sent();
  running.resend.sent(now);
}

void PulseRunner::reported(std::uint8_t address, std::uint16_t opened,
                           const std::function<bool(std::uint16_t)>& end_done, const Send& send,
                           std::vector<Told>& told, Clock::time_point now) {
  for (auto entry = running_.begin(); entry != running_.end();) {
    Running& running = entry->second;
    const End end = end_of(*entry);
    bool over = false;
    if (end.address != address) {
    } else if (running.owed) {
      if (!send(end)) {
        running.owed = false;
        running.pulse.end_sent();
        running.resend.sent(now);
        told.push_back({end, Told::News::ended_late});
      }
    } else if (running.pulse.ends_sent() > 0) {
      switch (running.pulse.check(opened, end_done(end.relays))) {
        case Pulse::Check::waiting:
          break;
        case Pulse::Check::back:
          told.push_back({end, Told::News::back, {}, 0, running.pulse.ends_sent()});
          over = true;
          break;
        case Pulse::Check::still_switched:
          if (sends_of_an_end_ != until_back && running.pulse.ends_sent() >= sends_of_an_end_) {
            told.push_back({end, Told::News::still_switched, {}, running.pulse.not_back(opened)});
            over = true;
            break;
          }
          // Straight after silence the end most likely went nowhere; a board that heard it
          // and still shows the relay switched gets it on the backoff.
          if (sends_of_an_end_ == until_back && !running.resend.again_at_answer()) break;
          send_again(*entry, now, send, told);
          break;
      }
    }
    entry = over ? running_.erase(entry) : std::next(entry);
  }
}

void PulseRunner::missed(std::uint8_t address) {
  for (auto& [key, running] : running_) {
    if (key.first == address) running.resend.missed();
  }
}

void PulseRunner::lost(std::optional<std::uint8_t> address) {
  for (auto& [key, running] : running_) {
    if (!address || key.first == *address) running.resend.lost();
  }
}

void PulseRunner::cut(Clock::time_point now) {
  for (auto& entry : running_) entry.second.pulse.cut(now);
}

void PulseRunner::stop(Clock::time_point now, const Send& send, std::vector<Told>& told) {
  for (auto& entry : running_) {
    Running& running = entry.second;
    running.pulse.cut(now);
    if (!running.pulse.end_due(now) && !running.owed) continue;  // its end is out
    if (auto why = send(end_of(entry))) {
      told.push_back({end_of(entry), Told::News::not_ended, std::move(*why)});
      continue;
    }
    // Kept until a report shows the relays back: the host may wait for that, and what a
    // stop leaves unconfirmed is still owed at the next start.
    running.owed = false;
    running.pulse.end_sent();
    running.resend.sent(now);
  }
}

const Pulse* PulseRunner::find(std::uint8_t address, std::uint16_t relays) const {
  const auto found = running_.find({address, relays});
  return found == running_.end() ? nullptr : &found->second.pulse;
}

std::vector<OwedState::PulseEnd> PulseRunner::owed() const {
  std::vector<OwedState::PulseEnd> owed;
  for (const auto& [key, running] : running_) {
    for (int relay = 1; relay <= 16; ++relay) {
      if ((key.second & (1u << (relay - 1))) == 0) continue;
      owed.push_back(
          {key.first, relay, !running.opened, running.pulse.started(), running.pulse.ends_at()});
    }
  }
  return owed;
}

void PulseRunner::recall(const OwedState::PulseEnd& pulse, Clock::time_point now) {
  if (pulse.relay < 1 || pulse.relay > 16) return;
  const auto relays = static_cast<std::uint16_t>(1u << (pulse.relay - 1));
  const auto hold = std::max(pulse.due - pulse.started, Clock::duration::zero());
  const auto start = std::min(pulse.started, now);
  const bool opened = !pulse.back_opened;
  forget(pulse.address, relays);
  Running running{Pulse(relays, opened, hold, start), opened};
  running.pulse.went_out(start);  // in the last run
  running.owed = start + hold <= now;
  running_.insert_or_assign({pulse.address, relays}, std::move(running));
}
