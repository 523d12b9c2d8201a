#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "link_win/message_window.h"
#include "served_port/served_port.h"

class WinMosquittoLink;

// A line that relayboard-mqtt serves, as the Windows panel's port: ServedBoardPort on
// the Win32 MQTT link, its later tasks run from the thread's message loop (a timer or a
// posted message of a window of its own). Plain TCP only, as the link is.
class WinServedLinePort final : public ServedPort {
 public:
  WinServedLinePort();
  ~WinServedLinePort() override;
  WinServedLinePort(const WinServedLinePort&) = delete;
  WinServedLinePort& operator=(const WinServedLinePort&) = delete;

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
  // Connects to the broker, running the message loop meanwhile; fails with the broker's
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

 private:
  void run_later(std::chrono::milliseconds delay, std::function<void()> task);
  void on_message(UINT message, WPARAM wparam);

  MessageWindow window_;
  std::map<UINT_PTR, std::function<void()>> tasks_;  // by timer or posted id
  UINT_PTR next_task_ = 1;
  ServedLineAddress line_;
  std::unique_ptr<WinMosquittoLink> link_;
  std::unique_ptr<WinMosquittoLink> leaving_;  // the last session's link while it says goodbye
  std::unique_ptr<ServedBoardPort> board_;     // while open
  std::string failure_;
  std::function<void()> handler_;
  int threshold_ = 1;
};
