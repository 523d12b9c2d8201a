#pragma once

#include "loop/event_wait.h"

// How relayctl waits on Windows: by running the thread's message loop, which delivers
// the serial port's receive events and the poll timer's ticks, until a condition holds
// or a deadline passes.
class WinEventWait final : public EventWait {
 public:
  bool wait_until(const std::function<bool()>& done, Clock::time_point deadline) override;
};
