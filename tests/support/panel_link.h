#pragma once

#include <QObject>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "board_process.h"
#include "loop/poll_timer.h"
#include "loop/qt_descriptor_loop.h"
#include "serial/posix_serial_port.h"
#include "link_rig.h"
#include "qt_events.h"
#include "recording_message_boxes.h"

// The panel's link as the window wires it, minus the widgets: the real serial port, the
// real poll timer that the port control switches, the core, and fakes that remember
// what the operator would see. Every frame written and every receive event is recorded
// on its way, with the times at which frames left and valid answers were shown.
class PanelLink : public FakePortView, public LineWatcher {
 public:
  using Clock = std::chrono::steady_clock;

  explicit PanelLink(const std::filesystem::path& program_dir, std::string port_number = "1")
      : port(program_dir, QtDescriptorLoop::program()) {
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
    timer.set_enabled(enabled);
  }

  void frame_written(std::span<const std::uint8_t> frame) override {
    frames.emplace_back(frame.begin(), frame.end());
    frame_times.push_back(Clock::now());
  }
  void receive_handled(const PollCycle& poll, bool answered) override {
    received.push_back(poll.last_answer());
    if (answered) {
      ++answers;
      answer_times.push_back(Clock::now());
    }
  }

  std::vector<std::vector<std::uint8_t>> frames;      // every frame written, byte for byte
  std::vector<std::array<std::int32_t, 8>> received;  // the eight bytes of each receive event
  int ticks = 0;                                      // poll ticks so far
  int answers = 0;                                    // valid answers shown so far
  std::vector<Clock::time_point> frame_times;         // when each frame was written
  std::vector<Clock::time_point> answer_times;        // when each valid answer was shown

  FixedAddress address;
  FakeIndicators indicators;
  FakeNameLabels names;
  RecordingMessageBoxes messages;
  PosixSerialPort port;
  PanelCore core{{port, indicators, *this, address, names, messages}, "name.txt"};
  PollCycle& cycle = core.poll();
  PortControl& control = core.port_control();
  PollTimer timer{PollCycle::period};
};

// The virtual board linked as port 1 in a folder of its own, and the panel's link over
// it, as the probes run them.
struct LinkedBoard {
  // Opens port 1 as the operator's click does; false, having said why on stderr as
  // `program`, when it will not open.
  bool open(const char* program) {
    link.click_open_comm();
    if (link.port.is_open()) return true;
    std::fprintf(stderr, "%s: %s\n", program, link.messages.shown.back().text.c_str());
    return false;
  }

  QTemporaryDir dir;
  BoardProcess board{{"--link-dir", dir.path(), "--port", "1"}};
  PanelLink link{dir.path().toStdString()};
};
