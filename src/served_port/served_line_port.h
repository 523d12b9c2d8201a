#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "served_line/line_map.h"
#include "served_line/served_board_port.h"
#include "served_port/served_port.h"

class MosquittoLink;

// A line that relayboard-mqtt serves, as the panel's port: ServedBoardPort on the Qt
// MQTT link and event loop.
class ServedLinePort : public QObject, public ServedPort {
 public:
  ServedLinePort();
  ~ServedLinePort() override;

  void select_line(ServedLineAddress line) override { line_ = std::move(line); }

  bool is_open() const override { return board_ != nullptr; }
  void discard_input() override {
    if (board_) board_->discard_input();
  }
  void write(std::span<const std::uint8_t> bytes) override {
    if (board_) board_->write(bytes);
  }
  void select_port(std::int16_t) override {}
  void select_device(std::string) override {}
  // Connects to the broker; fails with the broker's reason when it cannot be reached
  // within `connect_patience`.
  OpenResult open() override;
  void set_receive_threshold(int bytes) override;
  void set_receive_handler(std::function<void()> handler) override;
  std::size_t bytes_waiting() const override { return board_ ? board_->bytes_waiting() : 0; }
  std::optional<std::uint8_t> read_byte() override;
  // Leaves the broker cleanly.
  void close() override;

  ServedBoardPort* board() override { return board_.get(); }
  // Called with true while an open waits for the broker, and false once it is over,
  // so that the window can show that it is busy.
  std::function<void(bool waiting)> on_waiting;

  static constexpr std::chrono::seconds connect_patience{5};

 private:
  ServedLineAddress line_;
  std::unique_ptr<MosquittoLink> link_;
  std::unique_ptr<MosquittoLink> leaving_;  // the last session's link while it says goodbye
  std::unique_ptr<ServedBoardPort> board_;  // while open
  std::string failure_;
  std::function<void()> handler_;
  int threshold_ = 1;
};
