#pragma once

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <vector>

#include "link/poll_cycle.h"
#include "link_qt/poll_timer.h"
#include "link_qt/qt_serial_port.h"
#include "protocol/module1.h"
#include "protocol/status_frame.h"

// What the link probes share: the virtual board as its own process, linked as port 1
// in a temporary folder, and the panel's link wired as the window wires it, minus the
// widgets, with every frame and every valid answer time-stamped.

using ProbeClock = std::chrono::steady_clock;

// Runs the event loop for a while, idle as the panel is between events.
inline void run_events_for(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

inline bool wait_until(const std::function<bool()>& done, int timeout_ms = 30000) {
  const QDeadlineTimer deadline(timeout_ms);
  while (!done() && !deadline.hasExpired()) run_events_for(1);
  return done();
}

struct ProbeBoard {
  // False, having said why, when the board does not come up.
  bool start(const char* probe) {
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(RELAY_BOARD_SIM_PATH), {"--link-dir", dir.path(), "--port", "1"});
    if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000)) {
      std::fprintf(stderr, "%s: the virtual board did not start\n", probe);
      return false;
    }
    device = process.readLine().trimmed();
    return true;
  }
  void send(int signal) const { ::kill(static_cast<pid_t>(process.processId()), signal); }
  ~ProbeBoard() {
    process.terminate();
    process.waitForFinished(5000);
  }

  QTemporaryDir dir;
  QProcess process;
  QByteArray device;
};

class ProbeLink : public FramePort, public IndicatorPanel, public AddressSource {
 public:
  explicit ProbeLink(const ProbeBoard& board) : port(board.dir.path().toStdString()) {
    port.set_receive_handler([this](int code) {
      cycle.MSComm1_OnComm(code);
      StatusFrame frame;
      std::copy(cycle.rx_buf().begin(), cycle.rx_buf().end(), frame.bytes.begin());
      if (frame.is_valid() && cycle.link_count() == PollCycle::link_ticks) {
        answers.push_back(ProbeClock::now());
      }
    });
    QObject::connect(&timer, &PollTimer::timeout, [this] { cycle.Timer1_Timer(); });
  }

  // Opens port 1 and starts the poll; false, having said why, when it will not open.
  bool open(const char* probe) {
    port.select_port(1);
    const OpenResult opened = port.open();
    if (!opened.ok) {
      std::fprintf(stderr, "%s: %s: %s\n", probe, opened.device.c_str(), opened.reason.c_str());
      return false;
    }
    port.set_receive_threshold(8);
    timer.start();
    return true;
  }
  void close() {
    timer.stop();
    port.close();
  }

  bool is_open() const override { return port.is_open(); }
  void discard_input() override { port.discard_input(); }
  void write(std::span<const std::uint8_t> bytes) override {
    writes.push_back(ProbeClock::now());
    port.write(bytes);
  }
  void paint(int, IndicatorState) override {}
  Colour box_colour(int) const override { return colour_yellow; }
  std::string address_text() const override { return "1"; }

  std::vector<ProbeClock::time_point> writes;   // each frame handed to the line
  std::vector<ProbeClock::time_point> answers;  // each valid answer shown
  QtSerialPort port;
  Module1 module1{*this, *this};
  PollCycle cycle{module1, port, *this};
  PollTimer timer{std::chrono::milliseconds(50)};
};
