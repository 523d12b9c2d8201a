// Replug probe: pulls the virtual board's plug and puts it back, 20 times, and prints
// how long the panel's link takes to show the board's states again; then keeps the
// board unplugged for 10 s and prints the CPU the waiting panel uses meanwhile.
// Usage: replug_probe [replugs]   (default 20)
#include <signal.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "loop/qt_event_wait.h"
#include "panel_link.h"

namespace {

constexpr int timeout_ms = 30000;

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

  LinkedBoard rig;
  if (!rig.open("replug_probe")) return 1;
  auto& board = rig.board;
  auto& link = rig.link;
  auto& port = link.port;
  const auto answers = [&] { return link.answers; };
  if (!wait_until([&] { return answers() > 0; }, timeout_ms)) {
    std::fprintf(stderr, "replug_probe: no answer from the board\n");
    return 1;
  }

  // From the plug going back in to the first answer shown: the wait for the next look
  // (up to the look interval), the open and one poll.
  std::vector<double> recovery_ms;
  for (int i = 0; i < replugs; ++i) {
    board.send(SIGUSR1);
    if (!wait_until([&] { return port.device_lost(); }, timeout_ms)) {
      std::fprintf(stderr, "replug_probe: the pulled board was not noticed\n");
      return 1;
    }
    // Plugged back at a different moment of the look interval each time.
    QtEventWait().run_for(std::chrono::milliseconds(100 + (i * 379) % 1000));
    const auto before = answers();
    board.send(SIGUSR2);
    QElapsedTimer back;
    back.start();
    if (!wait_until([&] { return answers() > before; }, timeout_ms)) {
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
  board.send(SIGUSR1);
  wait_until([&] { return port.device_lost(); }, timeout_ms);
  const double cpu_before = cpu_seconds();
  QElapsedTimer gone;
  gone.start();
  QtEventWait().run_for(std::chrono::milliseconds(10'000));
  const double cpu = cpu_seconds() - cpu_before;
  std::printf(
      "CPU while the device is gone: %.3f s in %.1f s = %.2f %% of a core  (goal: under 0.5 %%)\n",
      cpu, static_cast<double>(gone.elapsed()) / 1000.0,
      100.0 * cpu / (static_cast<double>(gone.elapsed()) / 1000.0));

  link.click_open_comm();
  return 0;
}
