#pragma once

#include <QTimer>
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fake_indicators.h"
#include "fixed_address.h"
#include "link/poll_cycle.h"
#include "link/port_control.h"
#include "link_qt/qt_serial_port.h"
#include "protocol/module1.h"
#include "recording_frame_port.h"
#include "recording_message_boxes.h"

// The panel's link as the window wires it, minus the widgets: the real serial port,
// the real 50 ms precise timer that the port control switches, the poll cycle, and
// fakes that remember what the operator would see.
class PanelLink : public PortControlView {
 public:
  explicit PanelLink(const std::filesystem::path& program_dir, std::string port_text = "1");

  // The operator's "open com" / "close com" button.
  void click_open_comm() { control.open_comm_Click(); }
  bool timer_running() const { return timer_.isActive(); }
  // How many of the 16 indicators show `state` now.
  int count(IndicatorState state) const;
  // Frames written since the link was made, byte for byte.
  std::vector<std::vector<std::uint8_t>> frames_written() const;

  std::string port_number_text() const override { return port_text; }
  void set_open_all_enabled(bool) override {}
  void set_close_all_enabled(bool) override {}
  void set_timer_enabled(bool enabled) override;
  void set_port_box_enabled(bool) override {}
  void set_open_button_caption(const std::string& text) override { caption = text; }

  std::string port_text;
  std::string caption = "open com";
  // The eight bytes each receive event read, in order.
  std::vector<std::array<std::int32_t, 8>> received;

  FixedAddress address{"1"};
  FakeIndicators indicators;
  RecordingMessageBoxes messages;
  QtSerialPort port;
  RecordingFramePort line{port};
  Module1 module1{line, address};
  PollCycle cycle{module1, port, indicators};
  PortControl control{port, indicators, *this, messages};

 private:
  QTimer timer_;
};
