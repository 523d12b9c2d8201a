// Tick-timing probe: polls the virtual board over a pseudo-terminal with the panel's
// own poll timer and prints how evenly the frames leave and the answers come
// back. Usage: tick_probe [seconds]   (default 10)
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "panel_link.h"

namespace {

using Clock = PanelLink::Clock;
constexpr double period_ms = std::chrono::duration<double, std::milli>(PollCycle::period).count();

void report(const char* what, const std::vector<Clock::time_point>& times) {
  std::vector<double> intervals;
  std::vector<double> deviations;
  for (std::size_t i = 1; i < times.size(); ++i) {
    const double ms = std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count();
    intervals.push_back(ms);
    deviations.push_back(std::abs(ms - period_ms));
  }
  if (intervals.empty()) {
    std::printf("%-8s none recorded\n", what);
    return;
  }
  const auto at = [](std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
  };
  const double mean =
      std::chrono::duration<double, std::milli>(times.back() - times.front()).count() /
      static_cast<double>(intervals.size());
  std::printf(
      "%-8s %4zu intervals  median %6.2f ms  mean %6.3f ms  |interval - %.0f ms|: p50 %4.2f  "
      "p90 %4.2f  p99 %4.2f  max %5.2f ms\n",
      what, intervals.size(), period_ms, at(intervals, 0.5), mean, at(deviations, 0.5),
      at(deviations, 0.9), at(deviations, 0.99),
      *std::max_element(deviations.begin(), deviations.end()));
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

  LinkedBoard rig;
  if (!rig.open("tick_probe")) return 1;
  QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
  app.exec();
  rig.link.click_open_comm();

  std::printf("tick probe: %d s of polling the virtual board on %s\n", seconds,
              qPrintable(rig.board.device));
  report("frames", rig.link.frame_times);
  report("answers", rig.link.answer_times);
  std::printf("goal: median %.1f ms, p99 deviation under 2 ms (idle machine)\n", period_ms);
  return 0;
}
