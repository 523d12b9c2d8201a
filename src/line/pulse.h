#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

// One pulse of some relays of a board: switched, held, switched back, and the return
// checked against the board's own report. The hold counts from the moment the first
// switch goes out, as the relays see it, and ends when it has passed, or at once when the
// operator interrupts or the program stops. Only an answer that comes after the switch
// back has reached the board can say the relays did not return.
//
// Plain timing and verdicts: its host sends the frames and tells what the board reports.
class Pulse {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Check {
    waiting,         // the report may predate the switch back
    back,            // every relay is back
    still_switched,  // the switch back reached the board and some relay did not return
  };

  // `relays` (bit r-1 for relay r) switched to opened (or closed) at `start`, for `hold`.
  Pulse(std::uint16_t relays, bool opened, Clock::duration hold, Clock::time_point start);

  Clock::time_point ends_at() const { return cut_ ? start_ + *cut_ : start_ + hold_; }
  // Whether the relays are to be switched back at `now` and that has not gone out yet.
  bool end_due(Clock::time_point now) const { return ends_sent_ == 0 && now >= ends_at(); }
  // An interruption or a stop: the hold ends now.
  void cut(Clock::time_point now);
  // Whether the hold was cut short, and after how long.
  bool cut_short() const { return cut_.has_value(); }
  Clock::duration held() const { return cut_.value_or(Clock::duration::zero()); }

  // The switch back went out (once more).
  void end_sent() { ++ends_sent_; }
  int ends_sent() const { return ends_sent_; }

  // The relays that `reported` (bit set: opened) still shows switched by the pulse.
  std::uint16_t not_back(std::uint16_t reported) const;
  // What a report after the switch back went out says; `end_done`: whether the line has
  // carried the switch back to the board before the request this report answers.
  Check check(std::uint16_t reported, bool end_done) const;

 private:
  std::uint16_t relays_;
  bool opened_;
  Clock::duration hold_;
  Clock::time_point start_;
  std::optional<Clock::duration> cut_;
  int ends_sent_ = 0;
};
