#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

#include "interrupt.h"

namespace {

volatile std::sig_atomic_t interrupt_flag = 0;
// The handler's byte on this pipe wakes the event loop, which otherwise sleeps until
// its next timer: the end of a pulse's hold may be minutes away.
int wake_pipe[2] = {-1, -1};

extern "C" void raise_interrupt_flag(int) {
  const int saved = errno;
  interrupt_flag = 1;
  const char byte = 0;
  [[maybe_unused]] const ssize_t written = ::write(wake_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void catch_interrupts() {
  if (::pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    auto* notifier =
        new QSocketNotifier(wake_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
      char bytes[64];
      while (::read(wake_pipe[0], bytes, sizeof bytes) > 0) {
      }
    });
  }
  struct sigaction action {};
  action.sa_handler = raise_interrupt_flag;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    // One ignored at the start stays so: nohup's hang-up, a background job's Ctrl+C.
    struct sigaction before {};
    if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

bool interrupted() {
  return interrupt_flag != 0;
}
