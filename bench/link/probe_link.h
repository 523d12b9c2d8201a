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

#include "link_qt/poll_timer.h"
#include "link_qt/qt_serial_port.h"
#include "panel_core/panel_core.h"

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

class ProbeLink : public IndicatorPanel,
                  public PortControlView,
                  public AddressSource,
                  public NameView,
                  public MessageBoxes,
                  public LineWatcher {
 public:
  explicit ProbeLink(const ProbeBoard& board) : port(board.dir.path().toStdString()) {
    core.set_watcher(this);
    QObject::connect(&timer, &PollTimer::timeout, [this] { core.tick(); });
  }

  // Opens port 1 and starts the poll; false, having said why, when it will not open.
  bool open(const char* probe) {
    core.port_control().toggle_port();
    if (!port.is_open()) {
      std::fprintf(stderr, "%s: %s\n", probe, failure.c_str());
      return false;
    }
    return true;
  }
  void close() {
    if (port.is_open()) core.port_control().toggle_port();
  }

  void frame_written(std::span<const std::uint8_t>) override {
    writes.push_back(ProbeClock::now());
  }
  void receive_handled(const PollCycle&, bool answered) override {
    if (answered) answers.push_back(ProbeClock::now());
  }
  void paint(int, IndicatorState) override {}
  Colour box_colour(int) const override { return colour_yellow; }
  std::string address_text() const override { return "1"; }
  std::string port_number_text() const override { return "1"; }
  void set_open_all_enabled(bool) override {}
  void set_close_all_enabled(bool) override {}
  void set_timer_enabled(bool enabled) override {
    if (!enabled) {
      timer.stop();
    } else if (!timer.isActive()) {
      timer.start();
    }
  }
  void set_port_box_enabled(bool) override {}
  void set_open_button_caption(const std::string&) override {}
  void set_window_caption(const std::string&) override {}
  void set_name_label(int, const std::string&) override {}
  void show(const Message& message) override { failure = message.text; }

  std::vector<ProbeClock::time_point> writes;   // each frame handed to the line
  std::vector<ProbeClock::time_point> answers;  // each valid answer shown
  std::string failure;                          // why the port did not open
  QtSerialPort port;
  PanelCore core{{port, *this, *this, *this, *this, *this}, "name.txt"};
  PollTimer timer{std::chrono::milliseconds(50)};
};
