#include "loop/qt_descriptor_loop.h"

namespace {

// Qt tells a notifier's readiness, not poll()'s revents: a hang-up wakes the read side.
QSocketNotifier* make_notifier(int fd, QSocketNotifier::Type type, short revents,
                               const std::function<void(short)>& ready) {
  auto* made = new QSocketNotifier(fd, type);
  QObject::connect(made, &QSocketNotifier::activated, made, [ready, revents] { ready(revents); });
  return made;
}

// Disabled now, so that no further wake-up reaches a handler, and deleted once the
// notifier or timer is no longer on the call stack.
template <typename Object>
void drop(QPointer<Object>& object) {
  if (!object) return;
  if constexpr (std::is_same_v<Object, QSocketNotifier>) {
    object->setEnabled(false);
  } else {
    object->stop();
  }
  object->deleteLater();
  object.clear();
}

// Switching a notifier to what it already is costs nothing; one never asked for is not made.
void enable(QPointer<QSocketNotifier>& notifier, bool on, int fd, QSocketNotifier::Type type,
            short revents, const std::function<void(short)>& ready) {
  if (!notifier && on) notifier = make_notifier(fd, type, revents, ready);
  if (notifier && notifier->isEnabled() != on) notifier->setEnabled(on);
}

}  // namespace

QtDescriptorLoop& QtDescriptorLoop::program() {
  static QtDescriptorLoop loop;
  return loop;
}

QtDescriptorLoop::~QtDescriptorLoop() {
  for (auto& [id, watch] : watches_) {
    delete watch.read.data();
    delete watch.write.data();
  }
  for (auto& [id, timer] : timers_) delete timer.data();
}

DescriptorLoop::Id QtDescriptorLoop::watch(int fd, short events, std::function<void(short)> ready) {
  const Id id = next_id_++;
  watches_[id] = Watch{fd, 0, std::move(ready), {}, {}};
  set_events(id, events);
  return id;
}

void QtDescriptorLoop::set_events(Id watch, short events) {
  const auto found = watches_.find(watch);
  if (found == watches_.end()) return;
  Watch& line = found->second;
  line.events = events;
  enable(line.read, (events & POLLIN) != 0, line.fd, QSocketNotifier::Read, POLLIN, line.ready);
  enable(line.write, (events & POLLOUT) != 0, line.fd, QSocketNotifier::Write, POLLOUT, line.ready);
}

short QtDescriptorLoop::events(Id watch) const {
  const auto found = watches_.find(watch);
  return found == watches_.end() ? 0 : found->second.events;
}

void QtDescriptorLoop::unwatch(Id watch) {
  const auto found = watches_.find(watch);
  if (found == watches_.end()) return;
  drop(found->second.read);
  drop(found->second.write);
  watches_.erase(found);
}

DescriptorLoop::Id QtDescriptorLoop::start_timer(Clock::duration after, std::function<void()> fired,
                                                 Clock::duration repeat) {
  const Id id = next_id_++;
  auto* timer = new QTimer;
  // To the millisecond, as the poll() loop keeps its timers.
  timer->setTimerType(Qt::PreciseTimer);
  timer->setSingleShot(true);
  timer->setInterval(std::chrono::ceil<std::chrono::milliseconds>(after));
  QObject::connect(timer, &QTimer::timeout, timer, [this, id, timer, fired, repeat] {
    if (repeat > Clock::duration::zero()) {
      // The first wait may differ from the rest; a late tick merges into the next.
      if (timer->isSingleShot()) {
        timer->setSingleShot(false);
        timer->start(std::chrono::ceil<std::chrono::milliseconds>(repeat));
      }
    } else {
      const auto found = timers_.find(id);
      if (found != timers_.end()) {
        drop(found->second);
        timers_.erase(found);
      }
    }
    fired();
  });
  timers_[id] = timer;
  timer->start();
  return id;
}

void QtDescriptorLoop::stop_timer(Id timer) {
  const auto found = timers_.find(timer);
  if (found == timers_.end()) return;
  drop(found->second);
  timers_.erase(found);
}
