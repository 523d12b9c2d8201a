#include "qt_events.h"

#include <QCoreApplication>
#include <chrono>

#include "loop/qt_event_wait.h"

void start_qt() {
  static int argc = 1;
  static char name[] = "relay_tests";
  static char* argv[] = {name, nullptr};
  static auto* application = new QCoreApplication(argc, argv);
  (void)application;
}

bool wait_until(const std::function<bool()>& done, int timeout_ms) {
  QtEventWait wait;
  return wait.wait_until(done, wait.now() + std::chrono::milliseconds(timeout_ms));
}
