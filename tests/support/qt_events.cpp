#include "qt_events.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

void start_qt() {
  static int argc = 1;
  static char name[] = "relay_tests";
  static char* argv[] = {name, nullptr};
  static auto* application = new QCoreApplication(argc, argv);
  (void)application;
}

void run_events_for(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

bool wait_until(const std::function<bool()>& done, int timeout_ms) {
  const QDeadlineTimer deadline(timeout_ms);
  while (!done() && !deadline.hasExpired()) run_events_for(1);
  return done();
}
