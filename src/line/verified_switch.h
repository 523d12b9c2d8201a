#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "line/pulse.h"
#include "line/switch_queue.h"

// Relays of one board driven to a state and checked by the board's own report: the
// states are read first, only the relays that differ are switched (all sixteen as one
// frame), and a status query verifies the result. A pulse also holds them there, from
// the first switch frame on, then drives them back and verifies again; when the answer
// to its last switch already shows the relays in place, it holds at once.
//
// Plain logic, driven by its host on the line engine: the host sends each request that
// next() gives, one at a time, and tells its answer (or that none came in time), waits
// until the time next() names, and says when the operator asks to stop.
class VerifiedSwitch {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Result { done, no_answer, not_reached, not_switched };

  // What the host does next: send `request` and tell answered(), or wait until
  // `wait_until` (cut short by an interruption), or nothing: the run is over. When
  // `request` is the first switch of a phase, `command` holds every switch of that phase,
  // `request` first: one command, which the line's rules judge as a whole before it goes.
  struct Step {
    std::optional<QueuedSwitch> request;
    std::optional<Clock::time_point> wait_until;
    std::vector<QueuedSwitch> command{};
  };

  // Drives `relays` (bit r-1 for relay r) of `address` to opened or closed; with a
  // `hold`, back again once it has passed.
  VerifiedSwitch(std::uint8_t address, std::uint16_t relays, bool opened,
                 std::optional<Clock::duration> hold = std::nullopt);

  Step next(Clock::time_point now);
  // The board's states (bit set: opened) in the answer to the last request, nothing when
  // no answer came in time.
  void answered(std::optional<std::uint16_t> opened, Clock::time_point now);
  // The operator asks to stop: before the first switch the run ends with nothing
  // switched, a hold ends at once and the relays go back; anything else goes on.
  void interrupt(Clock::time_point now);

  // Whether switching has begun: from here on the run goes through to its verification.
  bool switching() const { return phase_ > Phase::read; }
  // Whether the relays are being driven back after their hold: a pulse's end.
  bool switching_back() const { return phase_ == Phase::switch_back; }
  Result result() const { return result_; }
  // The relays that did not reach the state asked for (not_reached), and that state.
  std::uint16_t missed() const { return missed_; }
  bool missed_opened() const { return missed_opened_; }
  // Whether an interruption cut the hold short, and after how long.
  bool cut_short() const { return held_.has_value(); }
  Clock::duration held() const { return held_.value_or(Clock::duration::zero()); }

  // How often a status query goes out before the board counts as silent. A switch goes
  // out once: whether it was carried out, the queries that follow tell.
  static constexpr int query_attempts = 3;

 private:
  enum class Phase { read, switch_on, confirm, hold, switch_back, verify, over };
  void enter(Phase phase, Clock::time_point now);
  void plan_switches(bool opened);
  // Ends the run with whether the relays reached `opened` in `states`; false when not.
  bool check(std::uint16_t states, bool opened);
  void finish(Result result);
  bool target(Phase phase) const { return phase <= Phase::hold ? opened_ : !opened_; }

  std::uint8_t address_;
  std::uint16_t relays_;
  bool opened_;
  std::optional<Clock::duration> hold_;

  Phase phase_ = Phase::read;
  int attempts_ = 0;
  std::vector<QueuedSwitch> pending_;      // the switches still to send in this phase
  std::size_t planned_ = 0;                // how many the phase began with
  std::optional<std::uint16_t> shown_;     // the states the last answer in time showed
  std::optional<std::uint16_t> last_ack_;  // the answer to the last switch of the phase
  // The pulse from the first switch on, with a hold; its end is verified once.
  PulseRunner pulses_{1};
  std::optional<Clock::duration> held_;  // how long, when an interruption cut the hold
  Result result_ = Result::done;
  std::uint16_t missed_ = 0;
  bool missed_opened_ = false;
};
