#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cerrno>

#include "ui/quit_signals.h"

namespace {

// The handler only writes a byte into this pipe, which is all a handler may safely do;
// the event loop reads it and quits outside the handler.
int quit_pipe[2] = {-1, -1};
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
  [[maybe_unused]] const ssize_t written = ::write(quit_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void quit_on_stop_signals(QObject& owner) {
  if (quit_pipe[0] >= 0 || ::pipe2(quit_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(quit_pipe[0], QSocketNotifier::Read, &owner);
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
    unsigned char byte = 0;
    while (::read(quit_pipe[0], &byte, 1) == 1) {
    }
    QApplication::closeAllWindows();
    QCoreApplication::quit();
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
