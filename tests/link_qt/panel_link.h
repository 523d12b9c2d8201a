#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <array>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "link_qt/poll_timer.h"
#include "link_qt/qt_serial_port.h"
#include "link_rig.h"
#include "recording_message_boxes.h"

// Makes the test program's QCoreApplication, once: the serial port and the timer need it.
inline void start_qt() {
  static int argc = 1;
  static char name[] = "link_qt_tests";
  static char* argv[] = {name, nullptr};
  static auto* application = new QCoreApplication(argc, argv);
  (void)application;
}

// Runs a real Qt event loop, as the panel does, for a while or until `done` holds. The
// deadline is generous: on a loaded machine the loop may fall far behind.
inline void run_events_for(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}
inline bool wait_until(const std::function<bool()>& done, int timeout_ms = 15000) {
  const QDeadlineTimer deadline(timeout_ms);
  while (!done() && !deadline.hasExpired()) run_events_for(2);
  return done();
}

// The virtual board, run as its own program the way an operator runs it. Started with
// the given options, it is ready once it has printed its device; killed when it goes.
struct BoardProcess : QProcess {
  explicit BoardProcess(const QStringList& options) {
    setProcessChannelMode(QProcess::ForwardedErrorChannel);
    start(QStringLiteral(RELAY_BOARD_SIM_PATH), options);
    if (waitForStarted(15000)) device = next_device();
  }
  // The device path the board prints each time it is plugged in.
  QString next_device() {
    while (!canReadLine() && waitForReadyRead(15000)) {
    }
    return QString::fromUtf8(readLine()).trimmed();
  }
  // SIGUSR1 pulls the board's plug, SIGUSR2 puts it back.
  void send(int signal) const { ::kill(static_cast<pid_t>(processId()), signal); }
  ~BoardProcess() override {
    kill();
    waitForFinished(15000);
  }
  QString device;
};

// The panel's link as the window wires it, minus the widgets: the real serial port, the
// real 50 ms poll timer that the port control switches, the core, and fakes that
// remember what the operator would see. Every frame written and every receive event is
// recorded on its way.
class PanelLink : public FakePortView, public LineWatcher {
 public:
  explicit PanelLink(const std::filesystem::path& program_dir, std::string port_number = "1")
      : port(program_dir) {
    port_text = std::move(port_number);
    core.set_watcher(this);
    QObject::connect(&timer, &PollTimer::timeout, [this] {
      ++ticks;
      core.tick();
    });
    timer.start();  // the window's timer runs from creation on, before any port is open
  }

  // The operator's "open com" / "close com" button.
  void click_open_comm() { control.toggle_port(); }
  // How many of the 16 indicators show `state` now.
  int count(IndicatorState state) const {
    return static_cast<int>(std::count(indicators.states.begin(), indicators.states.end(), state));
  }

  void set_timer_enabled(bool enabled) override {
    FakePortView::set_timer_enabled(enabled);
    if (!enabled) {
      timer.stop();
    } else if (!timer.isActive()) {
      timer.start();
    }
  }

  void frame_written(std::span<const std::uint8_t> frame) override {
    frames.emplace_back(frame.begin(), frame.end());
  }
  void receive_handled(const PollCycle& poll, bool answered) override {
    received.push_back(poll.last_answer());
    if (answered) ++answers;
  }

  std::vector<std::vector<std::uint8_t>> frames;      // every frame written, byte for byte
  std::vector<std::array<std::int32_t, 8>> received;  // the eight bytes of each receive event
  int ticks = 0;                                      // poll ticks so far
  int answers = 0;                                    // valid answers shown so far

  FixedAddress address;
  FakeIndicators indicators;
  FakeNameLabels names;
  RecordingMessageBoxes messages;
  QtSerialPort port;
  PanelCore core{{port, indicators, *this, address, names, messages}, "name.txt"};
  PollCycle& cycle = core.poll();
  PortControl& control = core.port_control();
  PollTimer timer{std::chrono::milliseconds(50)};
};
