#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/board_limits.h"
#include "common/message_boxes.h"
#include "names/name_file.h"
#include "panel/address_source.h"
#include "panel/indicator_panel.h"
#include "panel/port_control.h"
#include "protocol/frame_port.h"

// A host of the core without a window (relayctl, the benchmarks): the indicators keep
// their states, the port and address boxes hold fixed text, the name labels collect the
// names, and the message boxes keep what they were shown until it is taken. A host
// with a poll timer lets the port control switch it through on_timer.
class HeadlessHost : public IndicatorPanel,
                     public PortControlView,
                     public AddressSource,
                     public NameView,
                     public MessageBoxes {
 public:
  explicit HeadlessHost(std::string port_text = "1", std::string address_text = "1")
      : port_text_(std::move(port_text)), address_text_(std::move(address_text)) {
    states_.fill(IndicatorState::Unknown);
  }

  // Called when the port control starts or stops the poll.
  std::function<void(bool)> on_timer;

  const std::array<IndicatorState, relay_count>& states() const { return states_; }
  const std::array<std::string, relay_count>& names() const { return names_; }
  // What the core has shown since the last call.
  std::vector<Message> take_shown() { return std::exchange(shown_, {}); }

  void paint(int relay, IndicatorState state) override { states_.at(index(relay)) = state; }
  Colour box_colour(int relay) const override { return indicator_colour(states_.at(index(relay))); }
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
    names_.at(index(relay)) = name;
  }
  void show(const Message& message) override { shown_.push_back(message); }

 private:
  static std::size_t index(int relay) { return static_cast<std::size_t>(relay - 1); }

  std::string port_text_;
  std::string address_text_;
  std::array<IndicatorState, relay_count> states_{};
  std::array<std::string, relay_count> names_{};
  std::vector<Message> shown_;
};
