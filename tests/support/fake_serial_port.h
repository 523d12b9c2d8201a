#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "serial/serial_port.h"

// A serial port in memory: records what was written, lets a test put bytes in the
// input buffer and raise the receive event.
class FakeSerialPort : public SerialPort {
 public:
  bool is_open() const override { return open_; }
  void discard_input() override {
    input.clear();
    ++discards;
  }
  void write(std::span<const std::uint8_t> bytes) override {
    waiting_at_write = input.size();
    writes.emplace_back(bytes.begin(), bytes.end());
  }
  void select_port(std::int16_t number) override {
    selected = number;
    selected_device.clear();
  }
  void select_device(std::string path) override { selected_device = std::move(path); }
  OpenResult open() override {
    ++open_calls;
    if (!open_failure.empty()) return {false, device, open_failure};
    open_ = true;
    return {true, device, {}};
  }
  void set_receive_threshold(int bytes) override { threshold = bytes; }
  void set_receive_handler(std::function<void()> handler) override {
    handler_ = std::move(handler);
  }
  std::size_t bytes_waiting() const override { return input.size(); }
  bool takes_input_as_it_comes() const override { return takes_as_it_comes; }
  std::optional<std::uint8_t> read_byte() override {
    if (input.empty()) return std::nullopt;
    const std::uint8_t byte = input.front();
    input.pop_front();
    return byte;
  }
  void close() override {
    open_ = false;
    input.clear();
  }

  // Test side: the board sends bytes, then the port raises its receive event.
  void receive(const std::vector<std::uint8_t>& bytes) {
    input.insert(input.end(), bytes.begin(), bytes.end());
    if (handler_ && open_ && static_cast<int>(input.size()) >= threshold) {
      handler_();
    }
  }

  std::vector<std::vector<std::uint8_t>> writes;
  std::deque<std::uint8_t> input;
  std::size_t waiting_at_write = 0;  // unread input when the last write began
  int discards = 0;
  bool takes_as_it_comes = true;
  std::int16_t selected = -1;
  std::string selected_device;  // named by its path, in place of the number
  int threshold = 1;
  int open_calls = 0;
  std::string device = "/dev/ttyS0";
  std::string open_failure;  // non-empty: open() fails with this reason

 private:
  bool open_ = false;
  std::function<void()> handler_;
};
