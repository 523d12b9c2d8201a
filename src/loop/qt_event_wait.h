#pragma once

#include "loop/event_wait.h"

// Waits on Qt's event loop: the serial port's receive events and the poll timer run
// while it waits, and it wakes at the deadline to the millisecond.
class QtEventWait : public EventWait {
 public:
  bool wait_until(const std::function<bool()>& done, Clock::time_point deadline) override;
};
