#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

#include "host_qt/stop_signals.h"

namespace {

// The handler only writes a byte into this pipe, which is all a handler may safely do;
// the event loop reads it and stops outside the handler.
int stop_pipe[2] = {-1, -1};
constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t caught[3] = {};  // which of stop_signals this handler took over

extern "C" void on_stop_signal(int signal) {
  const int saved = errno;
  // Back to the default after the first, whichever comes next: a second signal ends a
  // way out that hangs.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  for (int i = 0; i < 3; ++i) {
    if (caught[i]) ::sigaction(stop_signals[i], &fallback, nullptr);
  }
  const auto byte = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t written = ::write(stop_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void call_on_stop_signals(QObject& owner, std::function<void()> stop) {
  if (stop_pipe[0] >= 0 || ::pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(stop_pipe[0], QSocketNotifier::Read, &owner);
  QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                   [notifier, stop = std::move(stop)] {
                     unsigned char byte = 0;
                     while (::read(stop_pipe[0], &byte, 1) == 1) {
                     }
                     notifier->setEnabled(false);
                     stop();
                   });

  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) {
    struct sigaction before {};
    if (::sigaction(stop_signals[i], nullptr, &before) == 0 && before.sa_handler == SIG_IGN) {
      continue;
    }
    caught[i] = 1;
    ::sigaction(stop_signals[i], &action, nullptr);
  }
}
