#include "mqtt/posix_mosquitto_link.h"

PosixMosquittoLink::PosixMosquittoLink(BrokerSettings settings, LogLine log, EventLoop& loop)
    : MosquittoSession(std::move(settings), std::move(log)), loop_(loop) {}

PosixMosquittoLink::~PosixMosquittoLink() {
  watch_socket(-1);
  for (const Timer which : {Timer::keep_alive, Timer::retry, Timer::leave}) stop_timer(which);
}

void PosixMosquittoLink::watch_socket(int socket) {
  if (watch_) loop_.unwatch(*watch_);
  watch_.reset();
  if (socket < 0) return;
  watch_ = loop_.watch(socket, POLLIN, [this](short revents) {
    // The read also learns of a hang-up or an error on the socket.
    if (revents & (POLLIN | POLLHUP | POLLERR)) read_ready();
    if ((revents & POLLOUT) && watch_ && (loop_.events(*watch_) & POLLOUT)) write_ready();
  });
}

void PosixMosquittoLink::want_write(bool wanted) {
  if (watch_) loop_.set_events(*watch_, static_cast<short>(wanted ? POLLIN | POLLOUT : POLLIN));
}

void PosixMosquittoLink::start_timer(Timer which, std::chrono::milliseconds after) {
  auto& timer = timers_[static_cast<std::size_t>(which)];
  if (timer) loop_.stop_timer(*timer);
  // The keep-alive repeats; the other two fire once.
  const auto repeat = which == Timer::keep_alive ? EventLoop::Clock::duration(after)
                                                 : EventLoop::Clock::duration::zero();
  timer = loop_.start_timer(
      after,
      [this, which, &timer, repeat] {
        if (repeat == EventLoop::Clock::duration::zero()) timer.reset();
        timer_fired(which);
      },
      repeat);
}

void PosixMosquittoLink::stop_timer(Timer which) {
  auto& timer = timers_[static_cast<std::size_t>(which)];
  if (timer) loop_.stop_timer(*timer);
  timer.reset();
}

void PosixMosquittoLink::later(std::function<void()> work) {
  loop_.post(std::move(work));
}
