#include "event_loop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

void start_qt() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "link_qt_tests";
  static char* argv[] = {name, nullptr};
  // Lives until the program ends; the serial port objects need its event loop.
  static auto* application = new QCoreApplication(argc, argv);
  (void)application;
}

bool wait_until(const std::function<bool()>& done, int timeout_ms) {
  start_qt();
  if (done()) return true;
  QEventLoop loop;
  QTimer check;
  check.setInterval(2);
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(timeout_ms, &loop, &QEventLoop::quit);
  check.start();
  loop.exec();
  return done();
}

void run_events_for(int ms) {
  wait_until([] { return false; }, ms);
}
