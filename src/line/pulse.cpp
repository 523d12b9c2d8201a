#include "line/pulse.h"

#include <algorithm>

Pulse::Pulse(std::uint16_t relays, bool opened, Clock::duration hold, Clock::time_point start)
    : relays_(relays), opened_(opened), hold_(hold), start_(start) {}

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
