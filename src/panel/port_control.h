#pragma once

#include <functional>
#include <optional>
#include <string>

#include "common/message_boxes.h"
#include "panel/indicator_panel.h"
#include "serial/serial_port.h"

// The window controls that follow the port's state; the window implements it.
class PortControlView {
 public:
  virtual ~PortControlView() = default;
  virtual std::string port_number_text() const = 0;
  virtual void set_open_all_enabled(bool enabled) = 0;
  virtual void set_close_all_enabled(bool enabled) = 0;
  virtual void set_timer_enabled(bool enabled) = 0;
  virtual void set_port_box_enabled(bool enabled) = 0;
  virtual void set_open_button_caption(const std::string& caption) = 0;
};

// Opens and closes the numbered port with the one button, and switches the window
// between its open and closed appearance. The port's own open state is the only
// record of whether the link is up.
class PortControl {
 public:
  PortControl(SerialPort& port, IndicatorPanel& indicators, PortControlView& view,
              MessageBoxes& messages)
      : port_(port), indicators_(indicators), view_(view), messages_(messages) {}

  // Opens the port named by the port box, or closes the open one. A failed open
  // tells the operator why and leaves the window exactly as it was.
  void toggle_port();
  // Opens the device at `path` itself rather than a numbered port (a script that names
  // its adapter), as toggle_port opens one; false, having told the operator why, when
  // it will not open.
  bool open_device(const std::string& path);
  void port_opened();
  void port_closed();

  // Run before each open: why the line must not be opened (its rules file has a fault),
  // nothing when it may.
  void set_open_check(std::function<std::optional<std::string>()> check) {
    open_check_ = std::move(check);
  }

  // Run while the port is still open, before the operator's close takes it away.
  void set_before_close(std::function<void()> before) { before_close_ = std::move(before); }

  // Told the device (or served line) of each port that opens.
  void set_opened_line(std::function<void(const std::string&)> told) {
    opened_line_ = std::move(told);
  }

 private:
  void show_port_state(bool open);
  // Opens the numbered port or the named device; tells the operator why not.
  bool open(const std::string& port_text, const std::optional<std::string>& device);

  SerialPort& port_;
  IndicatorPanel& indicators_;
  PortControlView& view_;
  MessageBoxes& messages_;
  std::function<std::optional<std::string>()> open_check_;
  std::function<void(const std::string&)> opened_line_;
  std::function<void()> before_close_;
};
