#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>

// The one event loop of a program without a window of its own (relayctl on POSIX): file
// descriptors watched with poll() and timers, all run on the program's one thread. A
// handler may add or remove watches and timers, its own among them.
class EventLoop {
 public:
  using Clock = std::chrono::steady_clock;
  using Id = std::uint64_t;

  // The program's loop.
  static EventLoop& program();

  // Calls `ready` with poll()'s revents while `fd` has any of `events` (POLLIN, POLLOUT);
  // a hang-up or an error is always reported. No events: the watch sleeps.
  Id watch(int fd, short events, std::function<void(short revents)> ready);
  void set_events(Id watch, short events);
  short events(Id watch) const;
  void unwatch(Id watch);

  // Calls `fired` once `after` has passed, then every `repeat` (zero: once).
  Id start_timer(Clock::duration after, std::function<void()> fired,
                 Clock::duration repeat = Clock::duration::zero());
  void stop_timer(Id timer);
  // Runs `work` on the loop's next pass, outside whatever called this.
  void post(std::function<void()> work) { start_timer(Clock::duration::zero(), std::move(work)); }

  // Waits until a descriptor is ready, a timer is due or `deadline` has come, and runs
  // what is due; returns early when a signal interrupts the wait.
  void run_once(Clock::time_point deadline);

 private:
  struct Watch {
    int fd = -1;
    short events = 0;
    std::function<void(short)> ready;
  };
  struct Timer {
    Clock::time_point due;
    Clock::duration repeat{};
    std::function<void()> fired;
  };
  void run_due_timers();

  Id next_id_ = 1;
  std::map<Id, Watch> watches_;
  std::map<Id, Timer> timers_;
};
