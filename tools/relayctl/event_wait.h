#pragma once

#include <chrono>
#include <functional>

// How relayctl waits for the board: by running the host's events (the serial port's
// receive events, the poll timer) until a condition holds or a deadline passes.
class EventWait {
 public:
  using Clock = std::chrono::steady_clock;
  virtual ~EventWait() = default;
  // Whether `done` holds when it returns.
  virtual bool wait_until(const std::function<bool()>& done, Clock::time_point deadline) = 0;
  virtual Clock::time_point now() const { return Clock::now(); }
};
