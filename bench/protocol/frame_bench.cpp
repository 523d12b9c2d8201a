// Per-frame cost of the two hot paths of the 50 ms cycle, with the line and the
// window replaced by objects that do nothing.
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>

#include "link/poll_cycle.h"
#include "protocol/module1.h"

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
  void set_receive_handler(std::function<void(int)>) override {}
  // Endlessly replays one valid status frame.
  std::size_t bytes_waiting() const override { return frame_.size(); }
  std::optional<std::uint8_t> read_byte() override {
    const std::uint8_t byte = frame_[next_];
    next_ = (next_ + 1) % frame_.size();
    return byte;
  }
  void close() override {}

 private:
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

class BoxAddress : public AddressSource {
 public:
  std::string address_text() const override { return "255"; }
};

void build_and_send(benchmark::State& state) {
  NullPort port;
  BoxAddress address;
  Module1 module1(port, address);
  for (auto _ : state) {
    module1.send_frame(0x11, 0x00, 0x10);
    benchmark::DoNotOptimize(module1.tx_buf());
  }
}
BENCHMARK(build_and_send);

void check_and_paint(benchmark::State& state) {
  NullPort port;
  NullIndicators indicators;
  BoxAddress address;
  Module1 module1(port, address);
  PollCycle poll(module1, port, indicators);
  for (auto _ : state) {
    poll.MSComm1_OnComm(comm_event_receive);
    benchmark::DoNotOptimize(poll.link_count());
  }
}
BENCHMARK(check_and_paint);

}  // namespace

BENCHMARK_MAIN();
