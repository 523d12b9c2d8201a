#pragma once

#include <array>
#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "fake_serial_port.h"
#include "names/name_file.h"
#include "panel/address_source.h"
#include "panel/indicator_panel.h"
#include "panel/panel_core.h"
#include "panel/poll_cycle.h"
#include "panel/port_control.h"
#include "recording_message_boxes.h"

// "55 01 10 00" <-> bytes, so that expected frames read as they do on the wire.
inline std::vector<std::uint8_t> hex_bytes(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  std::istringstream in(text);
  std::string token;
  while (in >> token) bytes.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
  return bytes;
}

template <typename Bytes>
std::string hex_text(const Bytes& bytes) {
  std::string text;
  for (std::uint8_t byte : bytes) {
    if (!text.empty()) text += ' ';
    text += "0123456789ABCDEF"[byte >> 4];
    text += "0123456789ABCDEF"[byte & 0x0F];
  }
  return text;
}

// The address box, holding whatever text the test puts in it.
struct FixedAddress : AddressSource {
  std::string address_text() const override { return text; }
  std::string text = "1";
};

// Sixteen indicators in memory, starting unknown as the window does; each box shows the
// colour of its state, and every paint is remembered in order.
struct FakeIndicators : IndicatorPanel {
  FakeIndicators() { states.fill(IndicatorState::Unknown); }
  void paint(int relay, IndicatorState state) override {
    states.at(relay - 1) = state;
    paints.emplace_back(relay, state);
  }
  Colour box_colour(int relay) const override { return indicator_colour(states.at(relay - 1)); }

  std::array<IndicatorState, relay_count> states{};
  std::vector<std::pair<int, IndicatorState>> paints;
};

// Records the window's controls as the port control leaves them.
struct FakePortView : PortControlView {
  struct Shown {
    std::string caption = "open com";
    bool open_all = true, close_all = true, timer = true, port_box = true;
    bool operator==(const Shown&) const = default;
  };
  std::string port_number_text() const override { return port_text; }
  void set_open_all_enabled(bool enabled) override { shown.open_all = enabled; }
  void set_close_all_enabled(bool enabled) override { shown.close_all = enabled; }
  void set_timer_enabled(bool enabled) override { shown.timer = enabled; }
  void set_port_box_enabled(bool enabled) override { shown.port_box = enabled; }
  void set_open_button_caption(const std::string& text) override { shown.caption = text; }

  std::string port_text = "1";
  Shown shown;  // as at start-up
};

// Remembers the window title and the 16 name labels the name file fills in.
struct FakeNameLabels : NameView {
  void set_window_caption(const std::string& caption) override { title = caption; }
  void set_name_label(int relay, const std::string& name) override {
    labels.at(static_cast<std::size_t>(relay - 1)) = name;
  }
  std::string title;
  std::array<std::string, relay_count> labels{};
};

// Frames written to the fake line since the last call, as hex text.
inline std::vector<std::string> take_written_frames(FakeSerialPort& port) {
  std::vector<std::string> frames;
  for (const auto& bytes : port.writes) frames.push_back(hex_text(bytes));
  port.writes.clear();
  return frames;
}

// The core wired to a fake line (a FakeSerialPort or a line built on it), fake indicators
// and fake boxes, as the window wires it.
template <typename Port>
struct CoreRig {
  // Frames written since the last call, as hex text.
  std::vector<std::string> take_writes() { return take_written_frames(port); }

  Port port;
  FakeIndicators indicators;
  FixedAddress address;
  FakePortView view;
  FakeNameLabels names;
  RecordingMessageBoxes messages;
  PanelCore core{{port, indicators, view, address, names, messages}, "name.txt"};
  LineEngine& line = core.line();
  PollCycle& poll = core.poll();
};
using LinkRig = CoreRig<FakeSerialPort>;
