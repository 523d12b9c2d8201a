#include "common/stop_signals.h"
#include "interrupt.h"
#include "loop/event_loop.h"

void catch_interrupts() {
  // The signal's byte wakes the event loop, which otherwise sleeps until its next timer:
  // the end of a pulse's hold may be minutes away. Every signal is caught: the way out
  // verifies the relays it drove back.
  const int fd = catch_stop_signals(SecondStopSignal::is_caught);
  if (fd < 0) return;
  EventLoop::program().watch(fd, POLLIN, [](short) { drain_stop_signal_pipe(); });
}

bool interrupted() {
  return stop_signal_caught();
}
