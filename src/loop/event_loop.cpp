#include "loop/event_loop.h"

#include <algorithm>
#include <cerrno>
#include <vector>

EventLoop& EventLoop::program() {
  static EventLoop loop;
  return loop;
}

EventLoop::Id EventLoop::watch(int fd, short events, std::function<void(short)> ready) {
  const Id id = next_id_++;
  watches_[id] = Watch{fd, events, std::move(ready)};
  return id;
}

void EventLoop::set_events(Id watch, short events) {
  const auto found = watches_.find(watch);
  if (found != watches_.end()) found->second.events = events;
}

short EventLoop::events(Id watch) const {
  const auto found = watches_.find(watch);
  return found == watches_.end() ? 0 : found->second.events;
}

void EventLoop::unwatch(Id watch) {
  watches_.erase(watch);
}

EventLoop::Id EventLoop::start_timer(Clock::duration after, std::function<void()> fired,
                                     Clock::duration repeat) {
  const Id id = next_id_++;
  timers_[id] = Timer{Clock::now() + after, repeat, std::move(fired)};
  return id;
}

void EventLoop::stop_timer(Id timer) {
  timers_.erase(timer);
}

void EventLoop::run_once(Clock::time_point deadline) {
  Clock::time_point wake = deadline;
  for (const auto& [id, timer] : timers_) wake = std::min(wake, timer.due);

  std::vector<pollfd> fds;
  std::vector<Id> ids;
  for (const auto& [id, watch] : watches_) {
    if (watch.events == 0) continue;
    fds.push_back(pollfd{watch.fd, watch.events, 0});
    ids.push_back(id);
  }
  int timeout = -1;
  if (wake != Clock::time_point::max()) {
    // Rounded up: a wake a little early would only spin until the timer is due.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now()).count();
    timeout = static_cast<int>(std::clamp<long long>(left, 0, 24 * 60 * 60 * 1000));
  }
  const int ready = ::poll(fds.data(), fds.size(), timeout);
  for (std::size_t i = 0; ready > 0 && i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    // A handler before this one may have removed or changed the watch.
    const auto found = watches_.find(ids[i]);
    if (found == watches_.end() || found->second.events == 0) continue;
    const auto handler = found->second.ready;
    handler(fds[i].revents);
  }
  run_due_timers();
}

void EventLoop::run_due_timers() {
  const Clock::time_point now = Clock::now();
  std::vector<Id> due;
  for (const auto& [id, timer] : timers_) {
    if (timer.due <= now) due.push_back(id);
  }
  for (const Id id : due) {
    const auto found = timers_.find(id);
    if (found == timers_.end()) continue;
    const auto fired = found->second.fired;
    if (found->second.repeat > Clock::duration::zero()) {
      // Late ticks merge into one instead of firing in a burst.
      found->second.due = std::max(found->second.due + found->second.repeat, now);
    } else {
      timers_.erase(found);
    }
    fired();
  }
}
