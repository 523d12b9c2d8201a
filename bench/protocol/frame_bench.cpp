// Per-frame cost of the two hot paths of the 50 ms cycle through the core as every
// host wires it, with the line and the window replaced by objects that do nothing.
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>

#include "panel_core/panel_core.h"

namespace {

class NullPort : public SerialPort {
 public:
  bool is_open() const override { return true; }
  void discard_input() override {}
  void write(std::span<const std::uint8_t> bytes) override {
    benchmark::DoNotOptimize(bytes.data());
  }
  void select_port(std::int16_t) override {}
  OpenResult open() override { return {true, {}, {}}; }
  void set_receive_threshold(int) override {}
  void set_receive_handler(std::function<void(int)> handler) override {
    handler_ = std::move(handler);
  }
  // Endlessly replays one valid status frame.
  std::size_t bytes_waiting() const override { return frame_.size(); }
  std::optional<std::uint8_t> read_byte() override {
    const std::uint8_t byte = frame_[next_];
    next_ = (next_ + 1) % frame_.size();
    return byte;
  }
  void close() override {}
  // The line's receive event, as the core has asked to get it.
  void raise_receive_event() { handler_(comm_event_receive); }

 private:
  std::function<void(int)> handler_;
  std::array<std::uint8_t, 8> frame_{0x22, 0x00, 0x00, 0x00, 0x00, 0x80, 0x05, 0xA7};
  std::size_t next_ = 0;
};

class NullIndicators : public IndicatorPanel {
 public:
  void paint(int relay, IndicatorState state) override {
    benchmark::DoNotOptimize(relay);
    benchmark::DoNotOptimize(state);
  }
  Colour box_colour(int) const override { return colour_yellow; }
};

// The window's boxes and message boxes, doing nothing.
class NullHost : public AddressSource,
                 public PortControlView,
                 public NameView,
                 public MessageBoxes {
 public:
  std::string address_text() const override { return "255"; }
  std::string port_number_text() const override { return "1"; }
  void set_open_all_enabled(bool) override {}
  void set_close_all_enabled(bool) override {}
  void set_timer_enabled(bool) override {}
  void set_port_box_enabled(bool) override {}
  void set_open_button_caption(const std::string&) override {}
  void set_window_caption(const std::string&) override {}
  void set_name_label(int, const std::string&) override {}
  void show(const Message&) override {}
};

// The core as every host wires it, over the null line and window.
struct NullPanel {
  NullPort port;
  NullIndicators indicators;
  NullHost host;
  PanelCore core{{port, indicators, host, host, host, host}, "name.txt"};
};

void build_and_send(benchmark::State& state) {
  NullPanel panel;
  for (auto _ : state) {
    panel.core.frame_sender().send(0x11, 0x00, 0x10);
    benchmark::DoNotOptimize(panel.core.frame_sender().last_frame());
  }
}
BENCHMARK(build_and_send);

void check_and_paint(benchmark::State& state) {
  NullPanel panel;
  for (auto _ : state) {
    panel.port.raise_receive_event();
    benchmark::DoNotOptimize(panel.core.poll().watchdog_ticks_left());
  }
}
BENCHMARK(check_and_paint);

}  // namespace

BENCHMARK_MAIN();
