#pragma once

#include <array>
#include <chrono>
#include <cstdint>

#include "link/address_source.h"
#include "link/indicator_panel.h"
#include "link/serial_port.h"
#include "protocol/frame_sender.h"

// The 50 ms poll: a one-slot command mailbox that the next tick empties, the link
// watchdog, and the handling of the board's answers. All on the UI thread.
class PollCycle {
 public:
  PollCycle(FrameSender& frame_sender, const AddressSource& address, SerialPort& port,
            IndicatorPanel& indicators)
      : frame_sender_(frame_sender), address_(address), port_(port), indicators_(indicators) {}

  // One tick: step the watchdog, then send exactly one frame.
  void tick();
  // The waiting command, or else the status query.
  void send_next_frame();
  // One frame to the board that the address box names at this moment: a command queued
  // before the address changed goes to the new address. A text that is no non-negative
  // number drops the frame without a word; addresses from 256 up wrap ("300" is 0x2C).
  void send_to_addressed_board(std::uint8_t command, std::uint8_t data1, std::uint8_t data2);
  // Overwrites whatever command waits.
  void queue_command(std::uint8_t command, std::uint8_t data1, std::uint8_t data2);

  // Queue the one command that switches all 16 relays.
  void open_all();
  void close_all();
  // Relay `index` 1..16: switches it according to the colour its box shows now.
  void relay_clicked(std::int16_t index);
  // The state caption inside the box does what the box does.
  void state_caption_clicked(std::int16_t index) { relay_clicked(index); }

  // An event of the serial port; only a receive event reads an answer.
  void on_receive(int event_code);
  // Paints the 16 relays from the states of the last answer.
  void show_states();

  struct PendingCommand {
    std::uint8_t command = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
  };
  const PendingCommand& pending_command() const { return pending_command_; }
  std::uint8_t has_pending_command() const { return has_pending_command_; }
  std::int32_t watchdog_ticks_left() const { return watchdog_ticks_left_; }
  // The bytes of the last answer read, in wire order.
  const std::array<std::int32_t, 8>& last_answer() const { return last_answer_; }

  // How often a host calls tick(): every host polls the board on this one rhythm.
  static constexpr std::chrono::milliseconds period{50};
  // Frames a valid answer allows before the watchdog paints everything unknown.
  static constexpr std::int32_t watchdog_ticks = 5;

 private:
  FrameSender& frame_sender_;
  const AddressSource& address_;
  SerialPort& port_;
  IndicatorPanel& indicators_;

  PendingCommand pending_command_{};
  std::uint8_t has_pending_command_ = 0;
  std::int32_t watchdog_ticks_left_ = 0;
  std::array<std::int32_t, 8> last_answer_{};
};
