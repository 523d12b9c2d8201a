#pragma once

#include "loop/event_wait.h"
#include "loop/event_loop.h"

// Waits on the program's event loop: the serial line, the broker's socket and the timers
// run while it waits, and it wakes at the deadline to the millisecond.
class PosixEventWait : public EventWait {
 public:
  explicit PosixEventWait(EventLoop& loop = EventLoop::program()) : loop_(loop) {}
  bool wait_until(const std::function<bool()>& done, Clock::time_point deadline) override {
    if (done()) return true;
    while (Clock::now() < deadline) {
      loop_.run_once(deadline);
      if (done()) return true;
    }
    return done();
  }

 private:
  EventLoop& loop_;
};
