#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "common/stop_signals.h"

namespace {

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t caught_signal = 0;
volatile sig_atomic_t taken_over[3] = {};  // which of stop_signals the handler took over
volatile sig_atomic_t second_ends = 0;
int stop_pipe[2] = {-1, -1};

extern "C" void on_stop_signal(int signal) {
  const int saved = errno;
  caught_signal = signal;
  if (second_ends) {
    // Back to the default after the first, whichever comes next.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    for (int i = 0; i < 3; ++i) {
      if (taken_over[i]) ::sigaction(stop_signals[i], &fallback, nullptr);
    }
  }
  const auto byte = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t written = ::write(stop_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

int catch_stop_signals(SecondStopSignal second) {
  if (stop_pipe[0] >= 0) return stop_pipe[0];
  if (::pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  second_ends = second == SecondStopSignal::ends_program;
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) {
    struct sigaction before {};
    if (::sigaction(stop_signals[i], nullptr, &before) == 0 && before.sa_handler == SIG_IGN) {
      continue;
    }
    taken_over[i] = 1;
    ::sigaction(stop_signals[i], &action, nullptr);
  }
  return stop_pipe[0];
}

bool stop_signal_caught() {
  return caught_signal != 0;
}

void drain_stop_signal_pipe() {
  unsigned char bytes[64];
  while (stop_pipe[0] >= 0 && ::read(stop_pipe[0], bytes, sizeof bytes) > 0) {
  }
}
