#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "mqtt/mosquitto_session.h"
#include "mqtt/served_port.h"

// A line that relayboard-mqtt serves, as a panel's port: ServedBoardPort on a
// libmosquitto session. What the host's event loop does for it (the link on that loop,
// waiting for the broker, later tasks) comes from the subclass of each system.
class SessionServedPort : public ServedPort {
 public:
  explicit SessionServedPort(unsigned long process_id) : process_id_(process_id) {}
  ~SessionServedPort() override;
  SessionServedPort(const SessionServedPort&) = delete;
  SessionServedPort& operator=(const SessionServedPort&) = delete;

  void select_line(ServedLineAddress line) override { line_ = std::move(line); }
  ServedBoardPort* board() override { return board_.get(); }

  bool is_open() const override { return board_ != nullptr; }
  void discard_input() override {
    if (board_) board_->discard_input();
  }
  void write(std::span<const std::uint8_t> bytes) override {
    if (board_) board_->write(bytes);
  }
  void select_port(std::int16_t) override {}
  void select_device(std::string) override {}
  // Connects to the broker, running the host's events meanwhile; fails with the broker's
  // reason when it cannot be reached within `connect_patience`.
  OpenResult open() override;
  void set_receive_threshold(int bytes) override;
  void set_receive_handler(std::function<void()> handler) override;
  std::size_t bytes_waiting() const override { return board_ ? board_->bytes_waiting() : 0; }
  std::optional<std::uint8_t> read_byte() override;
  // Leaves the broker cleanly.
  void close() override;

  // Called with true while an open waits for the broker, and false once it is over, so
  // that the window can refuse the operator's input meanwhile.
  std::function<void(bool waiting)> on_waiting;

  static constexpr std::chrono::seconds connect_patience{5};

 protected:
  // The MQTT link on the host's event loop.
  virtual std::unique_ptr<MosquittoSession> make_link(BrokerSettings settings,
                                                      MosquittoSession::LogLine log) = 0;
  // Runs the host's events, not the operator's input, until `answered` holds or
  // connect_patience has passed.
  virtual void wait_for_broker(const std::function<bool()>& answered) = 0;
  // Runs `task` from the host's event loop after `delay`.
  virtual void run_later(std::chrono::milliseconds delay, std::function<void()> task) = 0;
  // Lets go of the open line and the link still saying goodbye; a subclass's destructor
  // calls it while what the link runs on is still there.
  void forget_links();

 private:
  unsigned long process_id_;
  ServedLineAddress line_;
  std::unique_ptr<MosquittoSession> link_;
  std::unique_ptr<MosquittoSession> leaving_;  // the last session's link while it says goodbye
  std::unique_ptr<ServedBoardPort> board_;     // while open
  std::string failure_;
  std::function<void()> handler_;
  int threshold_ = 1;
};
