// Replug probe: pulls the virtual board's plug and puts it back, 20 times, and prints
// how long the panel's link takes to show the board's states again; then keeps the
// board unplugged for 10 s and prints the CPU the waiting panel uses meanwhile.
// Usage: replug_probe [replugs]   (default 20)
#include <signal.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "link/poll_cycle.h"
#include "link_qt/poll_timer.h"
#include "link_qt/qt_serial_port.h"
#include "protocol/module1.h"
#include "protocol/status_frame.h"

namespace {

class NullIndicators : public IndicatorPanel {
 public:
  void paint(int, IndicatorState) override {}
  Colour box_colour(int) const override { return colour_yellow; }
};

class BoardAddress : public AddressSource {
 public:
  std::string address_text() const override { return "1"; }
};

// Runs the event loop for a while, idle as the panel is between events.
void run_events_for(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

bool wait_until(const std::function<bool()>& done, int timeout_ms = 30000) {
  const QDeadlineTimer deadline(timeout_ms);
  while (!done() && !deadline.hasExpired()) {
    QEventLoop loop;
    QTimer::singleShot(1, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return done();
}

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const int replugs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

  QTemporaryDir dir;
  QProcess board;
  board.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  board.start(QStringLiteral(RELAY_BOARD_SIM_PATH), {"--link-dir", dir.path(), "--port", "1"});
  if (!board.waitForStarted(5000) || !board.waitForReadyRead(5000)) {
    std::fprintf(stderr, "replug_probe: the virtual board did not start\n");
    return 1;
  }
  const auto signal_board = [&](int signal) {
    ::kill(static_cast<pid_t>(board.processId()), signal);
  };

  QtSerialPort port(dir.path().toStdString());
  BoardAddress address;
  NullIndicators indicators;
  Module1 module1(port, address);
  PollCycle cycle(module1, port, indicators);
  int answers = 0;
  port.set_receive_handler([&](int code) {
    cycle.MSComm1_OnComm(code);
    StatusFrame frame;
    std::copy(cycle.rx_buf().begin(), cycle.rx_buf().end(), frame.bytes.begin());
    if (frame.is_valid() && cycle.link_count() == PollCycle::link_ticks) ++answers;
  });
  port.select_port(1);
  if (const OpenResult opened = port.open(); !opened.ok) {
    std::fprintf(stderr, "replug_probe: %s: %s\n", opened.device.c_str(), opened.reason.c_str());
    return 1;
  }
  port.set_receive_threshold(8);
  PollTimer timer(std::chrono::milliseconds(50));
  QObject::connect(&timer, &PollTimer::timeout, [&] { cycle.Timer1_Timer(); });
  timer.start();
  if (!wait_until([&] { return answers > 0; })) {
    std::fprintf(stderr, "replug_probe: no answer from the board\n");
    return 1;
  }

  // From the plug going back in to the first answer shown: the wait for the next look
  // (up to the look interval), the open and one poll.
  std::vector<double> recovery_ms;
  for (int i = 0; i < replugs; ++i) {
    signal_board(SIGUSR1);
    if (!wait_until([&] { return port.device_lost(); })) {
      std::fprintf(stderr, "replug_probe: the pulled board was not noticed\n");
      return 1;
    }
    // Plugged back at a different moment of the look interval each time.
    run_events_for(100 + (i * 379) % 1000);
    const int before = answers;
    signal_board(SIGUSR2);
    QElapsedTimer back;
    back.start();
    if (!wait_until([&] { return answers > before; })) {
      std::fprintf(stderr, "replug_probe: the board was not taken back\n");
      return 1;
    }
    recovery_ms.push_back(static_cast<double>(back.nsecsElapsed()) / 1e6);
  }
  std::sort(recovery_ms.begin(), recovery_ms.end());
  std::printf("replug probe: %d replugs of the virtual board\n", replugs);
  std::printf(
      "recovery after replug: median %.0f ms  min %.0f ms  max %.0f ms  (goal: under 2000)\n",
      recovery_ms[recovery_ms.size() / 2], recovery_ms.front(), recovery_ms.back());

  // The device gone for 10 s while the port counts as open and the poll runs on.
  signal_board(SIGUSR1);
  wait_until([&] { return port.device_lost(); });
  const double cpu_before = cpu_seconds();
  QElapsedTimer gone;
  gone.start();
  run_events_for(10'000);
  const double cpu = cpu_seconds() - cpu_before;
  std::printf(
      "CPU while the device is gone: %.3f s in %.1f s = %.2f %% of a core  (goal: under 0.5 %%)\n",
      cpu, static_cast<double>(gone.elapsed()) / 1000.0,
      100.0 * cpu / (static_cast<double>(gone.elapsed()) / 1000.0));

  timer.stop();
  port.close();
  board.terminate();
  board.waitForFinished(5000);
  return 0;
}
