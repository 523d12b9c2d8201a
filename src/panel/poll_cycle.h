#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "event_log/event_recorder.h"
#include "line/line_engine.h"
#include "serial/serial_port.h"
#include "panel/address_source.h"
#include "line/board_line.h"
#include "panel/indicator_panel.h"
#include "protocol/frame_port.h"

// The window's code for a receive event: bytes were received (at least the receive
// threshold waits). The window's port events carry a code; only this one reads.
inline constexpr int comm_event_receive = 2;

// The panel's policy over the line engine: one frame per 50 ms tick, the command from a
// one-slot mailbox (the last click wins) or else a status query, to the board that the
// address box names; the watchdog that paints the relays unknown when answers stop; and
// the indicators painted from every valid answer. All on the UI thread.
//
// The engine runs on tick time: a request's answer counts until the next tick, which
// sends whatever the line holds, as the panel has always polled. A command is judged by
// the line's rules when its frame is built, for the board it is built for.
//
// On a line whose owner switches its boards (FollowedLine), no frame goes out: a click goes
// to the owner at once, and the owner's states are painted as they arrive.
class PollCycle : private LineObserver {
 public:
  // Frames go out through `output`, which hands them on to `port`.
  PollCycle(SerialPort& port, FramePort& output, const AddressSource& address,
            IndicatorPanel& indicators);

  // One tick: step the watchdog, then send exactly one frame.
  void tick();
  // The waiting command, unless the rules refuse it for the board it goes to now, or
  // else the status query.
  void send_next_frame();
  // Sends the next switch of the line's rules now, if one waits; false when none does.
  bool send_rule_switch();
  // One frame to the board that the address box names at this moment: a command queued
  // before the address changed goes to the new address. A text that is no non-negative
  // number drops the frame without a word; addresses from 256 up wrap ("300" is 0x2C).
  void send_to_addressed_board(std::uint8_t command, std::uint8_t data1, std::uint8_t data2);
  // Overwrites whatever command waits.
  void queue_command(std::uint8_t command, std::uint8_t data1, std::uint8_t data2);

  // The control whose switch a refusal names: "Relay N" for relay N, else the bulk button
  // that switches all relays on (true) or off.
  static std::string control_name(int relay, bool on);
  // Queue the one command that switches all 16 relays.
  void open_all();
  void close_all();
  // Relay `index` 1..16: switches it according to the colour its box shows now.
  void relay_clicked(std::int16_t index);
  // The state caption inside the box does what the box does.
  void state_caption_clicked(std::int16_t index) { relay_clicked(index); }
  // Where the switches (as `who`'s), their answers and the board's silences are told;
  // nothing when no event log is kept.
  void set_recorder(EventRecorder* recorder, SwitchSource who) {
    recorder_ = recorder;
    who_ = std::move(who);
  }
  // Told, with the rule's words and the control clicked, when the line's rules refuse a
  // click: the command is dropped, never changed into another.
  void set_refusal_handler(
      std::function<void(const std::string& why, const std::string& control)> handler) {
    refused_ = std::move(handler);
  }

  // An event of the serial port; only a receive event reads an answer.
  void on_receive(int event_code);
  // Paints the 16 relays from the states of the last answer.
  void show_states();

  // The line whose owner switches its boards, when the open line is one; nullptr for none.
  void use_board_line(FollowedLine* line) { board_line_ = line; }
  // The followed board's states as its owner reports them: painted at once, or all
  // unknown for nothing.
  void served_states(std::uint8_t address, std::optional<std::uint16_t> opened);

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
  LineEngine& line() { return line_; }
  // The time the line engine runs on: the ticks so far.
  LineEngine::Clock::time_point tick_time() const { return tick_time_; }

  // How often a host calls tick(): every host polls the board on this one rhythm.
  static constexpr std::chrono::milliseconds period = LineTiming{}.poll_period;
  // Frames a valid answer allows before the watchdog paints everything unknown.
  static constexpr std::int32_t watchdog_ticks = 5;

 private:
  // Every valid answer is the addressed board's: the panel takes it as it comes.
  void board_answered(std::uint8_t, std::uint16_t) override { answered_ = true; }
  void board_lost(std::uint8_t) override {}
  void board_late(std::uint8_t, LineEngine::Clock::duration) override { answered_ = true; }
  void answer_unasked(std::uint16_t) override { answered_ = true; }
  void rule_switched(std::uint8_t address, std::uint16_t relays, const std::string& rule,
                     const std::string& why) override;
  void rule_refused(std::uint8_t address, int relay, const std::string& rule,
                    const std::string& why) override;
  // Each send of a switch the board has not confirmed is the rule's, as the first was.
  void rule_sent_again(std::uint8_t address, std::uint16_t relays, const std::string& rule,
                       const std::string& why, int, bool) override {
    rule_switched(address, relays, rule, why);
  }
  // The board that the address box names, as a frame would go to it; none for a text
  // that is no non-negative number.
  std::optional<std::uint8_t> addressed_board() const;
  // Queues the click's command unless the line's rules refuse it; on a board-level line
  // sends it at once.
  void queue_allowed(std::uint8_t command, std::uint8_t data1, std::uint8_t data2,
                     const std::string& control);
  // Whether the rules refuse the command for `address`; a refusal is logged and shown,
  // captioned by `control`. On a board-level line it is judged on the owner's states.
  bool refused(std::uint8_t address, std::uint8_t command, std::uint8_t data1, std::uint8_t data2,
               const std::string& control);
  bool board_level() const { return board_line_ && board_line_->board_level(); }
  void paint_states(std::uint16_t opened);

  const AddressSource& address_;
  IndicatorPanel& indicators_;
  LineEngine line_;
  LineEngine::Clock::time_point tick_time_{};
  bool answered_ = false;

  PendingCommand pending_command_{};
  std::uint8_t has_pending_command_ = 0;
  std::int32_t watchdog_ticks_left_ = 0;
  std::array<std::int32_t, 8> last_answer_{};
  std::function<void(const std::string&, const std::string&)> refused_;
  EventRecorder* recorder_ = nullptr;
  SwitchSource who_;
  // The watchdog's silence is in the log, or nothing has answered since the port opened.
  bool silent_told_ = true;
  FollowedLine* board_line_ = nullptr;
  // The states the owner of a board-level line last reported for the followed board.
  std::optional<std::uint16_t> served_states_;
  std::uint8_t served_address_ = 0;
};
