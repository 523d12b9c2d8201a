#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <QtGlobal>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "loop/poll_timer.h"

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
    qWarning("relay panel: no kernel interval timer (%s); polling on Qt's timer",
             std::strerror(errno));
    use_fallback();
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
  release_kernel_timer();
}

void PollTimer::use_fallback() {
  source_->fallback = new QTimer(this);
  source_->fallback->setTimerType(Qt::PreciseTimer);
  source_->fallback->setInterval(interval_);
  connect(source_->fallback, &QTimer::timeout, this, &PollTimer::timeout);
}

void PollTimer::release_kernel_timer() {
  // Stop watching the descriptor before closing it, not after, as Qt asks of notifiers.
  delete source_->notifier;
  source_->notifier = nullptr;
  if (source_->fd >= 0) ::close(source_->fd);
  source_->fd = -1;
}

void PollTimer::start() {
  source_->active = true;
  if (!source_->fallback) {
    const itimerspec period{to_timespec(interval_), to_timespec(interval_)};
    if (::timerfd_settime(source_->fd, 0, &period, nullptr) == 0) return;
    qWarning("relay panel: the kernel refused the poll's interval (%s); polling on Qt's timer",
             std::strerror(errno));
    release_kernel_timer();
    use_fallback();
  }
  source_->fallback->start();
}

void PollTimer::stop() {
  source_->active = false;
  if (source_->fallback) {
    source_->fallback->stop();
    return;
  }
  const itimerspec disarmed{};
  // Should disarming fail, the timer still fires, but a stopped poll ignores it.
  if (::timerfd_settime(source_->fd, 0, &disarmed, nullptr) != 0) {
    qWarning("relay panel: could not stop the poll's interval timer (%s)", std::strerror(errno));
  }
}

bool PollTimer::isActive() const {
  return source_->active;
}
