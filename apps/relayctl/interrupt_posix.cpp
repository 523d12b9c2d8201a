#include <QCoreApplication>
#include <QSocketNotifier>

#include "common/stop_signals.h"
#include "interrupt.h"

void catch_interrupts() {
  // The signal's byte wakes the event loop, which otherwise sleeps until its next timer:
  // the end of a pulse's hold may be minutes away. Every signal is caught: the way out
  // verifies the relays it drove back.
  const int fd = catch_stop_signals(SecondStopSignal::is_caught);
  if (fd < 0) return;
  auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, [] { drain_stop_signal_pipe(); });
}

bool interrupted() {
  return stop_signal_caught();
}
