#include "panel/poll_cycle.h"

#include <algorithm>

#include "common/text_number.h"
#include "line/interlock.h"
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
  // The owner of a board-level line polls its boards and ends what stays on too long:
  // the tick only keeps the followed board the one the address box names.
  if (board_level()) {
    if (const auto address = addressed_board()) board_line_->follow(*address);
    return;
  }
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
    // The click was judged for the board the box named then; the frame goes to the board
    // it names now, and is judged again for that one.
    const PendingCommand& c = pending_command_;
    const auto address = addressed_board();
    const bool all = c.command == code(BoardCommand::SetAllRelays);
    if (!address || !refused(*address, c.command, c.data1, c.data2,
                             control_name(all ? 0 : c.data2, all && c.data1 != 0))) {
      send_to_addressed_board(c.command, c.data1, c.data2);
      return;
    }
  }
  send_to_addressed_board(code(BoardCommand::QueryStatus), 0x00, 0x00);
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
    recorder_->commanded(*address, relays, opened_after(board_command, data1, data2, 0), who_,
                         wall_now());
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

bool PollCycle::refused(std::uint8_t address, std::uint8_t command, std::uint8_t data1,
                        std::uint8_t data2, const std::string& control) {
  const auto board_command = static_cast<BoardCommand>(command);
  std::optional<std::string> why;
  if (board_level()) {
    const auto opened = served_address_ == address ? served_states_ : std::nullopt;
    why = interlock_refusal(line_.rules(), address, opened, board_command, data1, data2);
  } else if (auto refusal = line_.against_rules(address, board_command, data1, data2)) {
    why = std::move(refusal->reason);
  }
  if (!why) return false;
  if (recorder_) {
    recorder_->refused(address, board_command == BoardCommand::SetAllRelays ? 0 : data2, who_, *why,
                       wall_now());
  }
  if (refused_) refused_(*why, control);
  return true;
}

void PollCycle::queue_allowed(std::uint8_t command, std::uint8_t data1, std::uint8_t data2,
                              const std::string& control) {
  const auto address = addressed_board();
  if (address && refused(*address, command, data1, data2, control)) return;
  if (!board_level()) {
    queue_command(command, data1, data2);
    return;
  }
  if (!address) return;
  const auto board_command = static_cast<BoardCommand>(command);
  const bool all = board_command == BoardCommand::SetAllRelays;
  board_line_->switch_relays(*address, all ? 0 : data2,
                             all ? data1 != 0 : board_command == BoardCommand::OpenRelay);
  if (recorder_) {
    recorder_->commanded(*address, switched_relays(board_command, data2),
                         opened_after(board_command, data1, data2, 0), who_, wall_now());
  }
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
  paint_states(static_cast<std::uint16_t>(last_answer_[5] << 8 | last_answer_[6]));
}

void PollCycle::served_states(std::uint8_t address, std::optional<std::uint16_t> opened) {
  served_address_ = address;
  served_states_ = opened;
  // States of a board the box no longer names wait for the next tick to follow the box.
  if (address != addressed_board()) return;
  if (!opened) {
    paint_all(indicators_, IndicatorState::Unknown);
    if (recorder_ && !silent_told_) recorder_->lost(address, wall_now());
    silent_told_ = true;
    return;
  }
  paint_states(*opened);
  silent_told_ = false;
  if (recorder_) recorder_->reported(address, *opened, wall_now());
}

void PollCycle::paint_states(std::uint16_t opened) {
  const auto states_9_16 = static_cast<std::uint8_t>(opened >> 8);
  const auto states_1_8 = static_cast<std::uint8_t>(opened & 0xFF);
  auto state_of = [](std::uint8_t states, std::int16_t bit) {
    return relay_state_bit(states, bit) == 1 ? IndicatorState::Opened : IndicatorState::Closed;
  };
  for (std::int16_t k = 0; k < 8; ++k) {
    indicators_.paint(k + 9, state_of(states_9_16, k));
    indicators_.paint(k + 1, state_of(states_1_8, k));
  }
}
