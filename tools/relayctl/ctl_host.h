#pragma once

#include <array>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "common/message_boxes.h"
#include "ctl_output.h"
#include "link/indicator_panel.h"
#include "link/port_control.h"
#include "names/name_file.h"
#include "protocol/frame_port.h"
#include "relay_selection.h"

// What stands in for the panel's window when relayctl hosts the core: indicators that
// keep their colours, the port and address boxes holding the command line's text,
// name labels that collect the names, and message boxes that become lines on stderr once
// the command knows its exit status (with --json, what ended it is one error object).
class CtlHost : public IndicatorPanel,
                public PortControlView,
                public AddressSource,
                public NameView,
                public MessageBoxes {
 public:
  CtlHost(std::string port_text, std::string address_text, std::ostream& errors)
      : port_text_(std::move(port_text)), address_text_(std::move(address_text)), errors_(errors) {
    colours_.fill(indicator_colour(IndicatorState::Unknown));
  }

  // Called when the port control starts or stops the poll timer.
  std::function<void(bool)> on_timer;

  const RelayNames& names() const { return names_; }
  bool told_operator() const { return told_; }

  void paint(int relay, IndicatorState state) override {
    colours_.at(static_cast<std::size_t>(relay - 1)) = indicator_colour(state);
  }
  Colour box_colour(int relay) const override {
    return colours_.at(static_cast<std::size_t>(relay - 1));
  }
  std::string port_number_text() const override { return port_text_; }
  void set_open_all_enabled(bool) override {}
  void set_close_all_enabled(bool) override {}
  void set_timer_enabled(bool enabled) override {
    if (on_timer) on_timer(enabled);
  }
  void set_port_box_enabled(bool) override {}
  void set_open_button_caption(const std::string&) override {}
  std::string address_text() const override { return address_text_; }
  void set_window_caption(const std::string&) override {}
  void set_name_label(int relay, const std::string& name) override {
    names_.at(static_cast<std::size_t>(relay - 1)) = name;
  }
  void show(const Message& message) override {
    shown_.push_back(message);
    told_ = true;
  }

  // Says on the error stream what the core has shown since the last call, then
  // `message` unless empty: a line each; with JSON a notice object for each message that
  // only informs and one error object, with the exit status, for the rest.
  void tell(int exit, const std::string& message, bool json) {
    std::string error;
    const auto add = [&](const std::string& text) {
      if (!json) {
        errors_ << error_line(text, exit, false);
      } else {
        error += (error.empty() ? "" : "; ") + text;
      }
    };
    for (const Message& shown : std::exchange(shown_, {})) {
      const bool notice = shown.icon == MessageIcon::None || shown.icon == MessageIcon::Information;
      if (json && (notice || exit == 0)) {
        errors_ << notice_line(shown.text, true);
      } else {
        add(shown.text);
      }
    }
    if (!message.empty()) add(message);
    if (!error.empty()) errors_ << error_line(error, exit, true);
  }
  // What the core has shown since the last call, now no longer to be told.
  std::vector<Message> take_shown() { return std::exchange(shown_, {}); }

 private:
  std::array<Colour, relay_count> colours_{};
  std::string port_text_;
  std::string address_text_;
  RelayNames names_{};
  std::ostream& errors_;
  std::vector<Message> shown_;
  bool told_ = false;
};
