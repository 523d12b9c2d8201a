// Tick-timing probe: polls the virtual board over a pseudo-terminal with the panel's
// own 50 ms poll timer and prints how evenly the frames leave and the answers come
// back. Usage: tick_probe [seconds]   (default 10)
#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "link/poll_cycle.h"
#include "link_qt/poll_timer.h"
#include "link_qt/qt_serial_port.h"
#include "protocol/module1.h"
#include "protocol/status_frame.h"

namespace {

using Clock = std::chrono::steady_clock;

class NullIndicators : public IndicatorPanel {
 public:
  void paint(int, IndicatorState) override {}
  Colour box_colour(int) const override { return colour_yellow; }
};

class BoardAddress : public AddressSource {
 public:
  std::string address_text() const override { return "1"; }
};

// Stamps each frame as it is handed to the line.
class TimedLine : public FramePort {
 public:
  explicit TimedLine(FramePort& line) : line_(line) {}
  bool is_open() const override { return line_.is_open(); }
  void discard_input() override { line_.discard_input(); }
  void write(std::span<const std::uint8_t> bytes) override {
    writes.push_back(Clock::now());
    line_.write(bytes);
  }
  std::vector<Clock::time_point> writes;

 private:
  FramePort& line_;
};

void report(const char* what, const std::vector<Clock::time_point>& times) {
  std::vector<double> intervals;
  std::vector<double> deviations;
  for (std::size_t i = 1; i < times.size(); ++i) {
    const double ms = std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count();
    intervals.push_back(ms);
    deviations.push_back(std::abs(ms - 50.0));
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
      "%-8s %4zu intervals  median %6.2f ms  mean %6.3f ms  |interval - 50 ms|: p50 %4.2f  "
      "p90 %4.2f  p99 %4.2f  max %5.2f ms\n",
      what, intervals.size(), at(intervals, 0.5), mean, at(deviations, 0.5), at(deviations, 0.9),
      at(deviations, 0.99), *std::max_element(deviations.begin(), deviations.end()));
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

  QTemporaryDir dir;
  QProcess board;
  board.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  board.start(QStringLiteral(RELAY_BOARD_SIM_PATH), {"--link-dir", dir.path(), "--port", "1"});
  if (!board.waitForStarted(5000) || !board.waitForReadyRead(5000)) {
    std::fprintf(stderr, "tick_probe: the virtual board did not start\n");
    return 1;
  }
  const QByteArray device = board.readLine().trimmed();

  QtSerialPort port(dir.path().toStdString());
  TimedLine line(port);
  BoardAddress address;
  NullIndicators indicators;
  Module1 module1(line, address);
  PollCycle cycle(module1, port, indicators);

  std::vector<Clock::time_point> answers;
  port.set_receive_handler([&](int code) {
    cycle.MSComm1_OnComm(code);
    StatusFrame frame;
    std::copy(cycle.rx_buf().begin(), cycle.rx_buf().end(), frame.bytes.begin());
    if (frame.is_valid()) answers.push_back(Clock::now());
  });
  port.select_port(1);
  const OpenResult opened = port.open();
  if (!opened.ok) {
    std::fprintf(stderr, "tick_probe: %s: %s\n", opened.device.c_str(), opened.reason.c_str());
    return 1;
  }
  port.set_receive_threshold(8);

  PollTimer timer(std::chrono::milliseconds(50));
  QObject::connect(&timer, &PollTimer::timeout, [&] { cycle.Timer1_Timer(); });
  timer.start();
  QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
  app.exec();
  timer.stop();
  port.close();
  board.terminate();
  board.waitForFinished(5000);

  std::printf("tick probe: %d s of polling the virtual board on %s\n", seconds, device.constData());
  report("frames", line.writes);
  report("answers", answers);
  std::printf("goal: median 50.0 ms, p99 deviation under 2 ms (idle machine)\n");
  return 0;
}
