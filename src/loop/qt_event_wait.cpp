#include "loop/qt_event_wait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>

bool QtEventWait::wait_until(const std::function<bool()>& done, Clock::time_point deadline) {
  if (done()) return true;
  // Only wakes the loop; the deadline itself is checked against the clock.
  QTimer wake;
  wake.setTimerType(Qt::PreciseTimer);
  wake.setSingleShot(true);
  while (Clock::now() < deadline) {
    if (deadline != Clock::time_point::max()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      wake.start(std::max<std::chrono::milliseconds>(left, std::chrono::milliseconds(0)));
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (done()) return true;
  }
  return done();
}
