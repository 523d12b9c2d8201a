#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "serial/serial_port.h"
#include "mqtt/mosquitto_session.h"
#include "mqtt/line_map.h"
#include "mqtt/served_board.h"

// A line that relayboard-mqtt serves, as the panel's line choice opens it: ServedBoard
// on a libmosquitto session. What the host's event loop does for it (the link on that
// loop, waiting for the broker, later tasks) comes from the subclass of each system.
class SessionServedPort {
 public:
  explicit SessionServedPort(unsigned long process_id) : process_id_(process_id) {}
  virtual ~SessionServedPort();
  SessionServedPort(const SessionServedPort&) = delete;
  SessionServedPort& operator=(const SessionServedPort&) = delete;

  // The line the next open() reaches.
  void select_line(ServedLineAddress line) { line_ = std::move(line); }
  // The open line's board; nothing while closed.
  ServedBoard* board() { return board_.get(); }
  bool is_open() const { return board_ != nullptr; }
  // Connects to the broker, running the host's events meanwhile; fails with the broker's
  // reason when it cannot be reached within `connect_patience`.
  OpenResult open();
  // Leaves the broker cleanly.
  void close();

  // Passed to each session's board.
  std::function<void()> on_names;
  std::function<void(std::uint8_t address, std::optional<std::uint16_t> opened)> on_states;
  std::function<void(const ServedBoard::SwitchRefusal&)> on_switch_refused;
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
  std::unique_ptr<ServedBoard> board_;         // while open
  std::string failure_;
};
