#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <cstdint>
#include <ctime>

#include "link_qt/poll_timer.h"

// A kernel interval timer: it wakes the event loop at exact absolute times, where a
// Qt timer rounds each wait to whole milliseconds and ticks run late.
struct PollTimer::Source {
  int fd = -1;
  QSocketNotifier* notifier = nullptr;
  // Should the kernel refuse an interval timer, the poll still runs on Qt's.
  QTimer* fallback = nullptr;
  bool active = false;
};

namespace {
timespec to_timespec(std::chrono::milliseconds interval) {
  return {static_cast<time_t>(interval.count() / 1000),
          static_cast<long>(interval.count() % 1000) * 1'000'000L};
}
}  // namespace

PollTimer::PollTimer(std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent), interval_(interval), source_(std::make_unique<Source>()) {
  source_->fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (source_->fd < 0) {
    source_->fallback = new QTimer(this);
    source_->fallback->setTimerType(Qt::PreciseTimer);
    source_->fallback->setInterval(interval_);
    connect(source_->fallback, &QTimer::timeout, this, &PollTimer::timeout);
    return;
  }
  source_->notifier = new QSocketNotifier(source_->fd, QSocketNotifier::Read, this);
  connect(source_->notifier, &QSocketNotifier::activated, this, [this] {
    std::uint64_t expirations = 0;
    if (::read(source_->fd, &expirations, sizeof expirations) != sizeof expirations) return;
    if (source_->active) emit timeout();
  });
}

PollTimer::~PollTimer() {
  // Stop watching the descriptor before closing it, not after, as Qt asks of notifiers.
  delete source_->notifier;
  if (source_->fd >= 0) ::close(source_->fd);
}

void PollTimer::start() {
  if (source_->fallback) {
    source_->fallback->start();
  } else {
    const itimerspec period{to_timespec(interval_), to_timespec(interval_)};
    ::timerfd_settime(source_->fd, 0, &period, nullptr);
  }
  source_->active = true;
}

void PollTimer::stop() {
  if (source_->fallback) {
    source_->fallback->stop();
  } else {
    const itimerspec disarmed{};
    ::timerfd_settime(source_->fd, 0, &disarmed, nullptr);
  }
  source_->active = false;
}

bool PollTimer::isActive() const {
  return source_->active;
}
