#pragma once

#include <chrono>
#include <functional>

// How a host without a window of its own (relayctl, the tests) waits for the board: by
// running the host's events (the serial port's receive events, the poll timer) until a
// condition holds or a deadline passes.
class EventWait {
 public:
  using Clock = std::chrono::steady_clock;
  virtual ~EventWait() = default;
  // Whether `done` holds when it returns.
  virtual bool wait_until(const std::function<bool()>& done, Clock::time_point deadline) = 0;
  virtual Clock::time_point now() const { return Clock::now(); }
  // Runs the host's events for a span, whatever happens meanwhile (a measurement).
  void run_for(Clock::duration span) {
    wait_until([] { return false; }, now() + span);
  }
};
