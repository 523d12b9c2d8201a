#include "panel/poll_cycle.h"

#include <algorithm>

#include "common/text_number.h"
#include "protocol/board_command.h"
#include "protocol/status_frame.h"

namespace {
constexpr std::uint8_t code(BoardCommand command) {
  return static_cast<std::uint8_t>(command);
}

Event::Time wall_now() {
  return std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
}

// The relays a switch frame concerns.
std::uint16_t switched_relays(BoardCommand command, std::uint8_t data2) {
  if (command == BoardCommand::SetAllRelays) return 0xFFFF;
  if (command == BoardCommand::QueryStatus || data2 < 1 || data2 > 16) return 0;
  return static_cast<std::uint16_t>(1u << (data2 - 1));
}

// The panel sends its own frames on its own tick: the engine polls no board of its own,
// and a request's answer counts until the next tick.
constexpr LineTiming panel_timing() {
  LineTiming timing;
  timing.answer_timeout = PollCycle::period;
  timing.late_limit = PollCycle::period;
  timing.host_paced = true;
  return timing;
}
}  // namespace

PollCycle::PollCycle(SerialPort& port, FramePort& output, const AddressSource& address,
                     IndicatorPanel& indicators)
    : address_(address), indicators_(indicators), line_(port, {}, *this, panel_timing()) {
  line_.write_through(output);
}

void PollCycle::tick() {
  tick_time_ += period;
  line_.step(tick_time_);
  if (watchdog_ticks_left_ < 1) {
    paint_all(indicators_, IndicatorState::Unknown);
    const auto address = addressed_board();
    if (recorder_ && address && !silent_told_) recorder_->lost(*address, wall_now());
    silent_told_ = true;
  } else {
    --watchdog_ticks_left_;
  }
  send_next_frame();
}

bool PollCycle::send_rule_switch() {
  const auto rule = line_.take_rule_switch(tick_time_);
  if (rule) line_.send_now(*rule, tick_time_);
  return rule.has_value();
}

void PollCycle::send_next_frame() {
  // A relay past its max_on, a board's on_start state, go before the click that waits.
  if (send_rule_switch()) return;
  // A click that waits when the boards are being given their stop state goes no further:
  // nothing follows the stop state onto the wire.
  if (line_.releasing()) has_pending_command_ = 0;
  if (has_pending_command_ != 0) {
    has_pending_command_ = 0;
    send_to_addressed_board(pending_command_.command, pending_command_.data1,
                            pending_command_.data2);
  } else {
    send_to_addressed_board(code(BoardCommand::QueryStatus), 0x00, 0x00);
  }
}

std::optional<std::uint8_t> PollCycle::addressed_board() const {
  const auto address = text_to_int32(address_.address_text());
  if (!address || *address < 0) return std::nullopt;
  return static_cast<std::uint8_t>(*address % 256);
}

void PollCycle::send_to_addressed_board(std::uint8_t command, std::uint8_t data1,
                                        std::uint8_t data2) {
  const auto address = addressed_board();
  if (!address) return;
  const auto board_command = static_cast<BoardCommand>(command);
  const bool sent = line_.send_now({*address, board_command, data1, data2}, tick_time_);
  const std::uint16_t relays = switched_relays(board_command, data2);
  if (recorder_ && sent && relays != 0) {
    recorder_->commanded(*address, relays, who_, wall_now());
  }
}

void PollCycle::rule_switched(std::uint8_t address, std::uint16_t relays, const std::string& rule,
                              const std::string& why) {
  if (recorder_) recorder_->commanded(address, relays, {"rule", rule, why}, wall_now());
}

void PollCycle::rule_refused(std::uint8_t address, int relay, const std::string& rule,
                             const std::string& why) {
  if (recorder_) recorder_->refused(address, relay, {"rule", rule, ""}, why, wall_now());
}

void PollCycle::queue_command(std::uint8_t command, std::uint8_t data1, std::uint8_t data2) {
  pending_command_ = {command, data1, data2};
  has_pending_command_ = 1;
}

void PollCycle::queue_allowed(std::uint8_t command, std::uint8_t data1, std::uint8_t data2,
                              const std::string& control) {
  const auto address = text_to_int32(address_.address_text());
  if (address && *address >= 0) {
    const auto refusal = line_.against_rules(static_cast<std::uint8_t>(*address % 256),
                                             static_cast<BoardCommand>(command), data1, data2);
    if (refusal) {
      if (recorder_) {
        recorder_->refused(static_cast<std::uint8_t>(*address % 256),
                           command == code(BoardCommand::SetAllRelays) ? 0 : data2, who_,
                           refusal->reason, wall_now());
      }
      if (refused_) refused_(refusal->reason, control);
      return;
    }
  }
  queue_command(command, data1, data2);
}

std::string PollCycle::control_name(int relay, bool on) {
  if (relay > 0) return "Relay " + std::to_string(relay);
  return on ? "Open all" : "Close all";
}

void PollCycle::open_all() {
  queue_allowed(code(BoardCommand::SetAllRelays), 0xFF, 0xFF, control_name(0, true));
}

void PollCycle::close_all() {
  queue_allowed(code(BoardCommand::SetAllRelays), 0x00, 0x00, control_name(0, false));
}

void PollCycle::relay_clicked(std::int16_t index) {
  if (index < 1 || index > relay_count) return;
  const Colour colour = indicators_.box_colour(index);
  const auto relay = static_cast<std::uint8_t>(index);
  const std::string control = control_name(index, colour == colour_red);
  if (colour == colour_green) {
    queue_allowed(code(BoardCommand::CloseRelay), 0x00, relay, control);
  } else if (colour == colour_red) {
    queue_allowed(code(BoardCommand::OpenRelay), 0x00, relay, control);
  }
}

void PollCycle::on_receive(int event_code) {
  if (event_code != comm_event_receive) return;

  // An event that fired early, or whose bytes the last request discarded, leaves the
  // input alone.
  answered_ = false;
  if (!line_.on_receive(tick_time_)) return;
  const FrameBytes& answer = line_.last_answer();
  std::copy(answer.begin(), answer.end(), last_answer_.begin());
  if (!answered_) return;
  show_states();
  watchdog_ticks_left_ = watchdog_ticks;
  silent_told_ = false;
  const auto address = addressed_board();
  if (recorder_ && address) {
    const FrameBytes& bytes = line_.last_answer();
    recorder_->reported(*address, static_cast<std::uint16_t>(bytes[5] << 8 | bytes[6]), wall_now());
  }
}

void PollCycle::show_states() {
  const auto states_9_16 = static_cast<std::uint8_t>(last_answer_[5]);
  const auto states_1_8 = static_cast<std::uint8_t>(last_answer_[6]);
  auto state_of = [](std::uint8_t states, std::int16_t bit) {
    return relay_state_bit(states, bit) == 1 ? IndicatorState::Opened : IndicatorState::Closed;
  };
  for (std::int16_t k = 0; k < 8; ++k) {
    indicators_.paint(k + 9, state_of(states_9_16, k));
    indicators_.paint(k + 1, state_of(states_1_8, k));
  }
}
