#pragma once

#include <chrono>
#include <functional>
#include <memory>

// The poll's metronome on Windows. The system's ordinary timers tick in 15.6 ms steps;
// this one waits on a high-resolution waitable timer (or, where the system has none, a
// waitable timer with the system's timer resolution raised to 1 ms) in a thread of its
// own, on a fixed rhythm that does not drift, and posts each tick to the thread that
// made it, whose message loop (a modal dialog's included) calls `on_tick`. A tick the
// loop has not yet taken is merged into the next one rather than fired in a burst.
// Under Wine, whose window timers keep such a rhythm to the millisecond and whose server
// each post from another thread costs calls, the window's own timer paces the ticks.
class WinPollTimer {
 public:
  WinPollTimer(std::chrono::milliseconds interval, std::function<void()> on_tick);
  ~WinPollTimer();
  WinPollTimer(const WinPollTimer&) = delete;
  WinPollTimer& operator=(const WinPollTimer&) = delete;

  // What a host does when the core switches the poll: enabling a running timer leaves
  // its rhythm alone.
  void set_enabled(bool enabled);
  bool is_active() const;
  // Whether the system's high-resolution timer paces the ticks.
  bool high_resolution() const;

 private:
  struct Pacer;
  std::unique_ptr<Pacer> pacer_;
};
