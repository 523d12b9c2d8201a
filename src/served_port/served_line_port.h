#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link/serial_port.h"
#include "served_line/line_map.h"

class MosquittoLink;
class ServedLine;

// A line that relayboard-mqtt serves, as the panel's port: the panel's frames are
// answered as the board would answer them, from what the bridge publishes. A status
// query (or any frame) for board A gets a status frame with the 16 states as last
// reported, but only while the broker, the bridge and board A are online; otherwise no
// answer, so that the watchdog shows the relays unknown as for a silent board. Switch
// frames become the bridge's commands (P/L/A/R/set, P/L/A/all/set). Answers arrive
// through the receive handler from the event loop, never inside write().
class ServedLinePort : public QObject, public SerialPort {
 public:
  ServedLinePort();
  ~ServedLinePort() override;

  // The line the next open() reaches.
  void select_line(ServedLineAddress line) { line_ = std::move(line); }

  bool is_open() const override { return open_; }
  void discard_input() override { input_.clear(); }
  void write(std::span<const std::uint8_t> bytes) override;
  void select_port(std::int16_t) override {}
  void select_device(std::string) override {}
  // Connects to the broker; fails with the broker's reason when it cannot be reached
  // within `connect_patience`.
  OpenResult open() override;
  void set_receive_threshold(int bytes) override { threshold_ = bytes; }
  void set_receive_handler(std::function<void()> handler) override {
    handler_ = std::move(handler);
  }
  std::size_t bytes_waiting() const override { return input_.size(); }
  std::optional<std::uint8_t> read_byte() override;
  // Leaves the broker cleanly.
  void close() override;

  static constexpr std::chrono::seconds connect_patience{5};

 private:
  void follow_board(std::uint8_t address);
  void send_command(std::uint8_t address, std::uint8_t command, std::uint8_t data1,
                    std::uint8_t data2);
  void answer(std::uint8_t address);

  ServedLineAddress line_;
  std::unique_ptr<MosquittoLink> link_;
  std::unique_ptr<MosquittoLink> leaving_;  // the last session's link while it says goodbye
  std::unique_ptr<ServedLine> board_;       // the board the panel addresses now
  std::uint8_t board_address_ = 0;
  std::string failure_;
  std::deque<std::uint8_t> input_;
  std::function<void()> handler_;
  int threshold_ = 1;
  bool open_ = false;
  // Counts opens and closes, so that an event queued for an earlier session is dropped.
  std::uint64_t session_ = 0;
};
