#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <functional>

// What a port asks of the event loop it runs on: its file descriptor watched, and timers,
// all on the program's one thread. The poll() loop (relayctl) and Qt's loop (the panel,
// the bridge) both offer it, so that one serial port serves every POSIX program. A
// handler may add or remove watches and timers, its own among them.
class DescriptorLoop {
 public:
  using Clock = std::chrono::steady_clock;
  using Id = std::uint64_t;

  virtual ~DescriptorLoop() = default;

  // Calls `ready` with poll()'s revents while `fd` has any of `events` (POLLIN, POLLOUT);
  // a hang-up or an error is always reported. No events: the watch sleeps.
  virtual Id watch(int fd, short events, std::function<void(short revents)> ready) = 0;
  virtual void set_events(Id watch, short events) = 0;
  virtual short events(Id watch) const = 0;
  virtual void unwatch(Id watch) = 0;

  // Calls `fired` once `after` has passed, then every `repeat` (zero: once).
  virtual Id start_timer(Clock::duration after, std::function<void()> fired,
                         Clock::duration repeat = Clock::duration::zero()) = 0;
  virtual void stop_timer(Id timer) = 0;
  // Runs `work` on the loop's next pass, outside whatever called this.
  void post(std::function<void()> work) { start_timer(Clock::duration::zero(), std::move(work)); }
};
