#pragma once

#include <map>

#include "loop/descriptor_loop.h"

// The one event loop of a program without a window of its own (relayctl on POSIX): file
// descriptors watched with poll() and timers, all run on the program's one thread. A
// handler may add or remove watches and timers, its own among them.
class EventLoop final : public DescriptorLoop {
 public:
  // The program's loop.
  static EventLoop& program();

  Id watch(int fd, short events, std::function<void(short revents)> ready) override;
  void set_events(Id watch, short events) override;
  short events(Id watch) const override;
  void unwatch(Id watch) override;
  Id start_timer(Clock::duration after, std::function<void()> fired,
                 Clock::duration repeat = Clock::duration::zero()) override;
  void stop_timer(Id timer) override;

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
