#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "protocol/frame_port.h"

// Passes frames on to the real line and keeps each one, with the time it left.
class RecordingFramePort : public FramePort {
 public:
  using Clock = std::chrono::steady_clock;
  struct Write {
    Clock::time_point at;
    std::vector<std::uint8_t> bytes;
  };

  explicit RecordingFramePort(FramePort& line) : line_(line) {}

  bool is_open() const override { return line_.is_open(); }
  void discard_input() override { line_.discard_input(); }
  void write(std::span<const std::uint8_t> bytes) override {
    writes.push_back({Clock::now(), {bytes.begin(), bytes.end()}});
    line_.write(bytes);
  }

  std::vector<Write> writes;

 private:
  FramePort& line_;
};
