#include "common/stop_signals.h"

int catch_stop_signals(SecondStopSignal) {
  return -1;
}

bool stop_signal_caught() {
  return false;
}

void drain_stop_signal_pipe() {}
