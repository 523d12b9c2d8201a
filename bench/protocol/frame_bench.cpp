// Per-frame cost of the two hot paths of the 50 ms cycle through the core as every
// host wires it, with the line replaced by one that does nothing and no window.
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <string>

#include "panel/headless_host.h"
#include "panel/panel_core.h"

namespace {

class NullPort : public SerialPort {
 public:
  bool is_open() const override { return true; }
  void discard_input() override {}
  void write(std::span<const std::uint8_t> bytes) override {
    benchmark::DoNotOptimize(bytes.data());
  }
  void select_port(std::int16_t) override {}
  void select_device(std::string) override {}
  OpenResult open() override { return {true, {}, {}}; }
  void set_receive_threshold(int) override {}
  void set_receive_handler(std::function<void()> handler) override {
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
  void raise_receive_event() { handler_(); }

 private:
  std::function<void()> handler_;
  std::array<std::uint8_t, 8> frame_{0x22, 0x00, 0x00, 0x00, 0x00, 0x80, 0x05, 0xA7};
  std::size_t next_ = 0;
};

// The core as every host wires it, over the null line and a host without a window.
struct NullPanel {
  NullPort port;
  HeadlessHost host{"1", "255"};
  PanelCore core{{port, host, host, host, host, host}, "name.txt"};
};

void build_and_send(benchmark::State& state) {
  NullPanel panel;
  for (auto _ : state) {
    panel.core.poll().send_to_addressed_board(0x11, 0x00, 0x10);
    benchmark::DoNotOptimize(panel.core.line().last_frame());
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
