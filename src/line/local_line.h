#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "line/board_line.h"
#include "line/line_engine.h"
#include "line/pulse.h"
#include "serial/serial_port.h"

// The boards of one serial line, owned by this program: the line engine over the port,
// and the line's one pulse runner. A pulse's edges go in the engine's first lane, so that
// no backlog stretches it; each relay's end is its own: sent at its time (to a silent
// board too: it may still hear), checked against the board's reports and sent again
// until a report shows the relay back.
//
// Plain C++ driven by its host: step() when the time it returned has come (and after a
// command), on_receive() for the port's receive events.
class LocalLine : public BoardLine, private LineObserver {
 public:
  LocalLine(SerialPort& port, std::vector<std::uint8_t> addresses, LineTiming timing = {});

  // BoardLine
  std::optional<SwitchRefusal> command(const SwitchCommand& command,
                                       Clock::time_point now) override;
  std::optional<bool> commanded(std::uint8_t address, int relay) const override {
    return engine_.commanded(address, relay);
  }
  void end_pulses(Clock::time_point now) override;
  void set_events(BoardEvents* events) override { events_ = events ? events : &nobody_; }

  // Sends the pulse ends that are due and the next frame; returns when to call again.
  Clock::time_point step(Clock::time_point now);
  // Bytes arrived (LineEngine::on_receive).
  bool on_receive(Clock::time_point now) {
    answer_time_ = now;
    return engine_.on_receive(now);
  }
  // The port's device went away (every board is unknown, and told so) or came back.
  void set_device_lost(bool lost);
  // The engine itself, for what only the line's host decides: its rules, whether it owns
  // the line, its release before a close.
  LineEngine& engine() { return engine_; }
  const LineEngine& engine() const { return engine_; }
  bool pulsing() const { return !pulses_.empty(); }
  // What the line's owner owes its boards (its max_on holds, its pulses' ends), to keep
  // across a crash; recall() puts the last run's back at a start, before the first poll.
  OwedState owed() const;
  void recall(const OwedState& owed, Clock::time_point now);

 private:
  // LineObserver: the engine's news, handed on; a board's answer checks its pulses.
  void board_answered(std::uint8_t address, std::uint16_t opened) override;
  void board_lost(std::uint8_t address) override;
  void board_missed(std::uint8_t address) override {
    pulses_.missed(address);
    events_->board_missed(address);
  }
  void board_late(std::uint8_t address, Clock::duration waited) override {
    events_->board_late(address, waited);
  }
  void answer_unasked(std::uint16_t opened) override { events_->answer_unasked(opened); }
  void switch_sent(const QueuedSwitch& frame, Clock::time_point now) override;
  void rule_switched(std::uint8_t address, std::uint16_t relays, const std::string& rule,
                     const std::string& why) override {
    events_->rule_switched(address, relays, rule, why);
  }
  void rule_refused(std::uint8_t address, int relay, const std::string& rule,
                    const std::string& why) override {
    events_->rule_refused(address, relay, rule, why);
  }
  void rule_sent_again(std::uint8_t address, std::uint16_t relays, const std::string& rule,
                       const std::string& why, int sends, bool first) override {
    events_->rule_sent_again(address, relays, rule, why, sends, first);
  }
  void rule_held(std::uint8_t address, std::uint16_t relays, const std::string& rule,
                 int sends) override {
    events_->rule_held(address, relays, rule, sends);
  }

  // A pulse's end on the line; why it cannot go, if it cannot.
  std::optional<std::string> send_end(const PulseRunner::End& end);
  void tell(const std::vector<PulseRunner::Told>& told);

  LineEngine engine_;
  PulseRunner pulses_;
  struct Nobody : BoardEvents {
    void board_answered(std::uint8_t, std::uint16_t) override {}
    void board_lost(std::uint8_t) override {}
  } nobody_;  // the news while no host listens
  BoardEvents* events_ = &nobody_;
  Clock::time_point answer_time_{};  // when the answer the engine hands on came
};
