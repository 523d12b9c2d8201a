#include <QTimer>

#include "loop/poll_timer.h"

// Where the kernel offers no interval timer of its own, Qt's precise timer keeps the
// rhythm to within a millisecond.
struct PollTimer::Source {
  QTimer* timer = nullptr;
};

PollTimer::PollTimer(std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent), interval_(interval), source_(std::make_unique<Source>()) {
  source_->timer = new QTimer(this);
  source_->timer->setTimerType(Qt::PreciseTimer);
  source_->timer->setInterval(interval_);
  connect(source_->timer, &QTimer::timeout, this, &PollTimer::timeout);
}

PollTimer::~PollTimer() = default;

void PollTimer::start() {
  source_->timer->start();
}
void PollTimer::stop() {
  source_->timer->stop();
}
bool PollTimer::isActive() const {
  return source_->timer->isActive();
}
