#pragma once

#include <array>
#include <cstdint>

#include "link/indicator_panel.h"
#include "link/serial_port.h"
#include "protocol/module1.h"

// The 50 ms poll: a one-slot command mailbox that the next tick empties, the link
// watchdog, and the handling of the board's answers. All on the UI thread.
class PollCycle {
 public:
  PollCycle(Module1& module1, SerialPort& port, IndicatorPanel& indicators)
      : module1_(module1), port_(port), indicators_(indicators) {}

  // One tick: step the watchdog, then send exactly one frame.
  void Timer1_Timer();
  void poll_tick();
  // Overwrites whatever command waits.
  void queue_command(std::uint8_t command, std::uint8_t data1, std::uint8_t data2);

  void openall_Click();
  void closeall_Click();
  // Relay `index` 1..16: switches it according to the colour its box shows now.
  void Picture1_Click(std::int16_t index);
  void Label2_Click(std::int16_t index) { Picture1_Click(index); }

  // The serial port's receive event.
  void MSComm1_OnComm(int event_code);
  void show_status();

  struct PendingCommand {
    std::uint8_t command = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
  };
  const PendingCommand& pending_cmd() const { return pending_cmd_; }
  std::uint8_t pending_flag() const { return pending_flag_; }
  std::int32_t link_count() const { return link_count_; }
  // Slots 1..8 of the original layout are indexes 0..7 here.
  const std::array<std::int32_t, 8>& rx_buf() const { return rx_buf_; }

  // Frames a valid answer allows before the watchdog paints everything unknown.
  static constexpr std::int32_t link_ticks = 5;

 private:
  Module1& module1_;
  SerialPort& port_;
  IndicatorPanel& indicators_;

  PendingCommand pending_cmd_{};
  std::uint8_t pending_flag_ = 0;
  std::int32_t link_count_ = 0;
  std::array<std::int32_t, 8> rx_buf_{};
};
