#pragma once

#include <windows.h>

#include <chrono>

// A waitable timer that wakes its thread to the microsecond where the system has
// high-resolution timers; elsewhere a plain one, which wakes to the millisecond only
// while the system's timer resolution is raised (hold a TimerResolution meanwhile).
class WaitableTimer {
 public:
  WaitableTimer();
  ~WaitableTimer();
  WaitableTimer(const WaitableTimer&) = delete;
  WaitableTimer& operator=(const WaitableTimer&) = delete;

  HANDLE handle() const { return timer_; }
  bool high_resolution() const { return high_resolution_; }
  // Fires once, `delay` from now (at once when it is not positive).
  bool fire_in(std::chrono::nanoseconds delay);
  // Fires every `period` from `period` on.
  bool fire_every(std::chrono::milliseconds period);
  void cancel() { CancelWaitableTimer(timer_); }

 private:
  HANDLE timer_ = nullptr;
  bool high_resolution_ = false;
};

// Raises the system's timer resolution to 1 ms for as long as it lives, when `needed`.
class TimerResolution {
 public:
  explicit TimerResolution(bool needed);
  ~TimerResolution();
  TimerResolution(const TimerResolution&) = delete;
  TimerResolution& operator=(const TimerResolution&) = delete;

 private:
  bool raised_ = false;
};
