#include <QSocketNotifier>

#include "common/stop_signals.h"
#include "loop/qt_stop_signals.h"

void call_on_stop_signals(QObject& owner, std::function<void()> stop) {
  const int fd = catch_stop_signals(SecondStopSignal::ends_program);
  if (fd < 0) return;
  auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &owner);
  QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                   [notifier, stop = std::move(stop)] {
                     drain_stop_signal_pipe();
                     notifier->setEnabled(false);
                     stop();
                   });
}
