#include "line/line_engine.h"

#include <algorithm>

#include "common/address_list.h"
#include "common/duration_text.h"
#include "line/interlock.h"
#include "line/max_on.h"
#include "protocol/command_frame.h"
#include "protocol/status_frame.h"

namespace {

constexpr std::uint16_t bit(int relay) {
  return static_cast<std::uint16_t>(1u << (relay - 1));
}

QueuedSwitch relay_switch(std::uint8_t address, int relay, bool on) {
  return {address, on ? BoardCommand::OpenRelay : BoardCommand::CloseRelay, 0x00,
          static_cast<std::uint8_t>(relay)};
}

// The relays a frame switches.
std::uint16_t switched_relays(const QueuedSwitch& frame) {
  switch (frame.command) {
    case BoardCommand::SetAllRelays:
      return 0xFFFF;
    case BoardCommand::OpenRelay:
    case BoardCommand::CloseRelay:
      return frame.data2 >= 1 && frame.data2 <= 16 ? bit(frame.data2) : 0;
    case BoardCommand::QueryStatus:
      break;
  }
  return 0;
}

}  // namespace

LineEngine::LineEngine(SerialPort& port, std::vector<std::uint8_t> addresses,
                       LineObserver& observer, LineTiming timing)
    : port_(port), addresses_(std::move(addresses)), observer_(observer), timing_(timing) {
  // A board listed twice would only be polled twice as often.
  std::vector<std::uint8_t> unique;
  for (const std::uint8_t address : addresses_) {
    if (std::find(unique.begin(), unique.end(), address) != unique.end()) continue;
    unique.push_back(address);
    Board board;
    board.address = address;
    board.poll_interval = timing_.poll_period;
    boards_.push_back(board);
  }
  addresses_ = std::move(unique);
}

std::optional<SwitchRefusal> LineEngine::queue_switch(std::uint8_t address, BoardCommand command,
                                                      std::uint8_t data1, std::uint8_t data2,
                                                      SwitchLane lane) {
  return queue_switches({{{address, command, data1, data2}}, lane});
}

std::optional<SwitchRefusal> LineEngine::queue_switches(const SwitchCommand& command) {
  if (!port_.is_open() || releasing_) return SwitchRefusal::line_not_open();
  if (device_lost_) return SwitchRefusal::device_lost();
  if (auto refusal = against_rules(command)) return refusal;
  for (const QueuedSwitch& frame : command.frames) {
    end_owed(frame);
    switches_.push(frame, command.lane);
  }
  return std::nullopt;
}

std::optional<LineEngine::Clock::time_point> LineEngine::settle(Clock::time_point now) {
  if (!outstanding_) return std::nullopt;
  if (!outstanding_->timed_out) {
    const auto deadline = outstanding_->sent_at + timing_.answer_timeout;
    if (now < deadline) return deadline;
    outstanding_->timed_out = true;
    missed(outstanding_->address);
  }
  // The observer may have closed the line meanwhile.
  if (outstanding_) {
    // Even a board lost to silence may be answering late now: its answer would be the
    // next board's.
    const auto free_at = outstanding_->sent_at + timing_.late_limit;
    if (now < free_at) return free_at;
    outstanding_.reset();
  }
  return std::nullopt;
}

bool LineEngine::send_now(const QueuedSwitch& frame, Clock::time_point now) {
  if (outstanding_ && !outstanding_->timed_out) missed(outstanding_->address);
  outstanding_.reset();
  return send(frame, now);
}

LineEngine::Clock::time_point LineEngine::step(Clock::time_point now) {
  if (const auto busy_until = settle(now)) return *busy_until;
  // A closed line sends nothing; the host looks again on the poll's rhythm.
  if (!port_.is_open()) return now + timing_.poll_period;

  // A relay past its max_on goes off before anything else.
  if (const auto rule = timing_.host_paced ? std::nullopt : take_rule_switch(now)) {
    send(*rule, now);
    return now + timing_.answer_timeout;
  }
  if (const auto edge = switches_.pop(SwitchLane::first)) {
    send(*edge, now);
    return now + timing_.answer_timeout;
  }
  const auto due = due_board(now);
  const std::size_t* poll = std::get_if<std::size_t>(&due);
  // Switches and due polls take turns, so that a flood of commands at most doubles
  // the time between two refreshes of a board.
  if (!switches_.empty(SwitchLane::in_turn) && (!poll || !switch_last_)) {
    send(*switches_.pop(SwitchLane::in_turn), now);
    return now + timing_.answer_timeout;
  }
  if (!poll) return std::get<Clock::time_point>(due);
  Board& candidate = boards_[*poll];
  next_board_ = (*poll + 1) % boards_.size();
  // The rhythm runs from when the poll was due, not from when it went out, so that the
  // host's late wake-ups and a busy line do not add up period after period; a board a
  // whole period behind (a line without room for it) starts a fresh rhythm.
  const auto due_at = due_time(candidate, now);
  candidate.last_poll = now - due_at < candidate.poll_interval ? due_at : now;
  candidate.polled = true;
  if (candidate.misses >= timing_.misses_until_unknown) {
    last_lost_poll_ = now;
    last_lost_address_ = candidate.address;
  }
  send({candidate.address, BoardCommand::QueryStatus, 0x00, 0x00}, now);
  return now + timing_.answer_timeout;
}

std::variant<std::size_t, LineEngine::Clock::time_point> LineEngine::due_board(
    Clock::time_point now) const {
  // From where the last poll left off, so that every board gets its turn however slow
  // the others are.
  const std::size_t count = boards_.size();
  auto next_due = now + timing_.poll_period;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t index = (next_board_ + i) % count;
    const auto due = due_time(boards_[index], now);
    if (due <= now) return index;
    next_due = std::min(next_due, due);
  }
  return next_due;
}

LineEngine::Clock::time_point LineEngine::due_time(const Board& candidate,
                                                   Clock::time_point now) const {
  auto due = candidate.polled ? candidate.last_poll + candidate.poll_interval : now;
  // Lost boards are looked for one at a time: each poll holds the line to its late limit,
  // and together they take at most a fifth of it, or several would stall the line.
  if (candidate.misses >= timing_.misses_until_unknown) {
    const auto spacing =
        candidate.address == last_lost_address_
            ? timing_.poll_period
            : std::max<Clock::duration>(5 * timing_.late_limit, timing_.poll_period);
    due = std::max(due, last_lost_poll_ + spacing);
  }
  return due;
}

bool LineEngine::on_receive(Clock::time_point now) {
  const auto answer = read_answer(port_);
  if (!answer) return false;
  last_answer_ = *answer;
  input_clear_ = false;
  const StatusFrame frame{*answer};
  // A garbled answer: the request's timeout decides, and the input is cleared before the
  // next request anyway.
  if (!frame.is_valid()) return true;
  const auto opened = static_cast<std::uint16_t>(frame.bytes[5] << 8 | frame.bytes[6]);
  if (!outstanding_) {
    observer_.answer_unasked(opened);
    return true;
  }
  const std::uint8_t address = outstanding_->address;
  const auto sent_at = outstanding_->sent_at;
  // Even a late answer tells the states truly; the rules judge by them.
  answered_[address] = opened;
  max_on_.reported(address, opened, now);
  owed_reported(address, opened);
  if (owner_ && !releasing_ &&
      std::find(started_.begin(), started_.end(), address) == started_.end()) {
    started_.push_back(address);
    start_board(address, opened);
  }
  const bool switched = outstanding_->switched.has_value();
  const bool counted_missed = outstanding_->timed_out;
  outstanding_.reset();
  if (counted_missed || now >= sent_at + timing_.answer_timeout) {
    if (!counted_missed) missed(address);
    observer_.board_late(address, now - sent_at);
    return true;
  }
  if (Board* answered = board(address)) {
    // A switch's answer carries all 16 states: as good as a poll.
    if (switched) {
      answered->polled = true;
      answered->last_poll = sent_at;
    }
    answered->misses = 0;
    answered->poll_interval = timing_.poll_period;
    answered->states = opened;
  }
  input_clear_ = port_.bytes_waiting() == 0;
  observer_.board_answered(address, opened);
  return true;
}

void LineEngine::reset() {
  outstanding_.reset();
  input_clear_ = false;
  switches_.clear();
  answered_.clear();
  rule_switches_.clear();
  owed_.clear();
  started_.clear();
  releasing_ = false;
  // Every board is due at once when the line is back.
  for (Board& each : boards_) each.polled = false;
}

void LineEngine::set_device_lost(bool lost) {
  device_lost_ = lost;
  if (!lost) return;
  // The same line comes back: its boards were started already, and what the rules owe
  // them goes at their first answers.
  auto started = std::move(started_);
  auto owed = std::move(owed_);
  reset();
  started_ = std::move(started);
  owed_ = std::move(owed);
  for (Owed& debt : owed_) debt.resend.lost();
}

std::optional<std::uint16_t> LineEngine::states(std::uint8_t address) const {
  const Board* found = board(address);
  return found ? found->states : std::nullopt;
}

std::optional<std::uint16_t> LineEngine::commanded_states(std::uint8_t address) const {
  const auto found = answered_.find(address);
  if (found == answered_.end()) return std::nullopt;
  std::uint16_t opened = found->second;
  std::uint16_t known = 0xFFFF;
  if (outstanding_ && outstanding_->switched && outstanding_->address == address) {
    apply_switch(*outstanding_->switched, opened, known);
  }
  switches_.apply(address, opened, known);
  return opened;
}

void LineEngine::set_rules(LineRules rules) {
  rules_ = std::move(rules);
  max_on_ = MaxOnWatch(rules_);
  owed_.clear();
  started_.clear();
  releasing_ = false;
}

void LineEngine::start_board(std::uint8_t address, std::uint16_t opened) {
  const BoardRules* board = rules_.find(address);
  if (board == nullptr || board->on_start == BoardRules::Start::keep) return;
  if (board->on_start == BoardRules::Start::off) {
    if (opened != 0) {
      rule_switches_.push_back({{address, BoardCommand::SetAllRelays, 0x00, 0x00},
                                opened,
                                "on_start",
                                "on_start = off"});
    }
    return;
  }
  // Off first, so that no moment has two relays of an interlock on.
  const std::uint16_t wanted = board->start_opened;
  const std::string why = "on_start = " + relay_list_text(wanted) + " on";
  for (const bool on : {false, true}) {
    const auto changed = static_cast<std::uint16_t>(on ? wanted & ~opened : opened & ~wanted);
    for (int relay = 1; relay <= 16; ++relay) {
      if ((changed & bit(relay)) == 0) continue;
      rule_switches_.push_back({relay_switch(address, relay, on), bit(relay), "on_start", why});
    }
  }
}

bool LineEngine::release_line() {
  if (!owner_ || !port_.is_open() || device_lost_ || releasing_) return false;
  releasing_ = true;
  // The boards that answered on this line: a board never heard is not switched blind.
  // What still waits for a board that goes all off would only follow its stop state onto
  // the wire; what waits for the others (a pulse's end) still goes out.
  std::vector<RuleSwitch> stops;
  for (const auto& [address, opened] : answered_) {
    const BoardRules* board = rules_.find(address);
    if (board == nullptr || board->on_stop != BoardRules::Stop::off) continue;
    switches_.drop(address);
    // A structured binding is not captured by every compiler in use: a copy is.
    const std::uint8_t board_address = address;
    std::erase_if(rule_switches_, [board_address](const RuleSwitch& each) {
      return each.frame.address == board_address;
    });
    // The stop state holds what max_on owes, and is owed itself.
    std::erase_if(owed_, [board_address](const Owed& each) {
      return each.sent.frame.address == board_address;
    });
    stops.push_back({{address, BoardCommand::SetAllRelays, 0x00, 0x00},
                     commanded_states(address).value_or(opened),
                     "on_stop",
                     "on_stop = off"});
  }
  rule_switches_.insert(rule_switches_.begin(), stops.begin(), stops.end());
  return !stops.empty();
}

std::optional<SwitchRefusal> LineEngine::against_rules(std::uint8_t address, BoardCommand command,
                                                       std::uint8_t data1,
                                                       std::uint8_t data2) const {
  return against_rules(SwitchCommand{{{address, command, data1, data2}}});
}

std::optional<SwitchRefusal> LineEngine::against_rules(const SwitchCommand& command) const {
  if (rules_.empty()) return std::nullopt;
  const auto refused = [](std::string why) {
    return SwitchRefusal{SwitchRefusal::Why::against_rules, std::move(why)};
  };
  std::vector<std::uint8_t> boards;
  for (const QueuedSwitch& frame : command.frames) {
    if (std::find(boards.begin(), boards.end(), frame.address) == boards.end()) {
      boards.push_back(frame.address);
    }
  }
  for (const std::uint8_t address : boards) {
    const auto before = commanded_states(address);
    std::uint16_t switched_on = 0;
    std::optional<std::uint16_t> after = before;
    for (const QueuedSwitch& frame : command.frames) {
      if (frame.address != address) continue;
      switched_on |= opened_after(frame.command, frame.data1, frame.data2, 0);
      if (after) after = opened_after(frame.command, frame.data1, frame.data2, *after);
    }
    if (command.pulse) {
      if (auto refusal = pulse_refusal(address, switched_on, *command.pulse)) return refusal;
    }
    // Judged together first: two relays of a group asked for at once are told as such,
    // not as one found on when the other goes.
    if (auto why = interlock_refusal(rules_, address, before, switched_on, after.value_or(0))) {
      return refused(std::move(*why));
    }
    // Then each moment on the way: an off that follows an on leaves a group doubled meanwhile.
    std::optional<std::uint16_t> on_the_way = before;
    for (const QueuedSwitch& frame : command.frames) {
      if (frame.address != address) continue;
      if (auto why = interlock_refusal(rules_, address, on_the_way, frame.command, frame.data1,
                                       frame.data2)) {
        return refused(std::move(*why));
      }
      if (on_the_way) {
        on_the_way = opened_after(frame.command, frame.data1, frame.data2, *on_the_way);
      }
    }
  }
  return std::nullopt;
}

std::optional<SwitchRefusal> LineEngine::pulse_refusal(std::uint8_t address, std::uint16_t relays,
                                                       std::chrono::milliseconds hold) const {
  auto why = ::pulse_refusal(rules_, address, relays, hold);
  if (!why) return std::nullopt;
  return SwitchRefusal{SwitchRefusal::Why::against_rules, std::move(*why)};
}

std::optional<QueuedSwitch> LineEngine::take_rule_switch(Clock::time_point now) {
  if (rules_.empty() || !port_.is_open() || device_lost_) return std::nullopt;
  if (rule_switches_.empty() && !releasing_) {
    for (const MaxOnWatch::Due& due : max_on_.take_due(now)) {
      rule_switches_.push_back({relay_switch(due.address, due.relay, false), bit(due.relay),
                                "max_on",
                                "on longer than its max_on of " + duration_text(due.limit)});
    }
  }
  while (!rule_switches_.empty()) {
    // The switches one rule gives one board go as a whole, judged when the first of them
    // goes, like any other command: a command taken meanwhile may have switched an
    // interlocked partner on.
    const RuleSwitch& first = rule_switches_.front();
    const auto end = std::find_if(rule_switches_.begin(), rule_switches_.end(),
                                  [&first](const RuleSwitch& each) {
                                    return each.frame.address != first.frame.address ||
                                           each.rule != first.rule || each.why != first.why;
                                  });
    SwitchCommand whole;
    for (auto each = rule_switches_.begin(); each != end; ++each) {
      whole.frames.push_back(each->frame);
    }
    if (auto refusal = against_rules(whole)) {
      std::vector<RuleSwitch> refused(rule_switches_.begin(), end);
      rule_switches_.erase(rule_switches_.begin(), end);
      for (const RuleSwitch& each : refused) {
        if (opened_after(each.frame.command, each.frame.data1, each.frame.data2, 0) == 0) continue;
        observer_.rule_refused(each.frame.address, each.frame.data2, each.rule, refusal->reason);
      }
      continue;
    }
    const RuleSwitch due = std::move(rule_switches_.front());
    rule_switches_.erase(rule_switches_.begin());
    const QueuedSwitch& frame = due.frame;
    observer_.rule_switched(frame.address, due.relays, due.rule, due.why);
    if (due.rule == "max_on" || due.rule == "on_stop") owe(due, now);
    return frame;
  }
  return take_owed(now);
}

void LineEngine::owe(const RuleSwitch& sent, Clock::time_point now) {
  Owed debt{sent, switched_relays(sent.frame), 0, sent.relays};
  debt.opened = static_cast<std::uint16_t>(
      opened_after(sent.frame.command, sent.frame.data1, sent.frame.data2, 0) & debt.checked);
  debt.resend.sent(now);
  // The newer switch of the same relays is the one owed.
  std::erase_if(owed_, [&debt](const Owed& each) {
    return each.sent.frame.address == debt.sent.frame.address && (each.checked & debt.checked) != 0;
  });
  owed_.push_back(std::move(debt));
}

void LineEngine::owed_reported(std::uint8_t address, std::uint16_t opened) {
  std::vector<Owed> held;
  for (auto debt = owed_.begin(); debt != owed_.end();) {
    if (debt->sent.frame.address != address) {
      ++debt;
    } else if ((opened & debt->checked) == debt->opened) {
      held.push_back(std::move(*debt));
      debt = owed_.erase(debt);
    } else {
      // The answer is to a request that went out after the switch (one is on the line
      // at a time): it shows the switch not carried out.
      debt->left = static_cast<std::uint16_t>(debt->checked & (opened ^ debt->opened));
      debt->at_once = debt->at_once || debt->resend.again_at_answer();
      ++debt;
    }
  }
  for (const Owed& debt : held) {
    if (debt.resend.sends() > 1) {
      observer_.rule_held(address, debt.sent.relays, debt.sent.rule, debt.resend.sends());
    }
  }
}

std::optional<QueuedSwitch> LineEngine::take_owed(Clock::time_point now) {
  for (Owed& debt : owed_) {
    if (!debt.at_once && !debt.resend.due(now)) continue;
    // An off never breaks an interlock; a switch that would is kept until it would not.
    if (against_rules(SwitchCommand{{debt.sent.frame}})) continue;
    debt.at_once = false;
    const bool first = debt.resend.first_retry();
    debt.resend.sent(now);
    observer_.rule_sent_again(debt.sent.frame.address, debt.sent.relays, debt.sent.rule,
                              debt.sent.why, debt.resend.sends(), first);
    return debt.sent.frame;
  }
  return std::nullopt;
}

void LineEngine::end_owed(const QueuedSwitch& frame) {
  const std::uint16_t relays = switched_relays(frame);
  if (relays == 0) return;
  std::erase_if(owed_, [&](const Owed& debt) {
    if (debt.sent.frame.address != frame.address || (debt.checked & relays) == 0) return false;
    // What max_on named of them is done with: the relays count afresh.
    if (debt.sent.rule == "max_on") max_on_.forget(frame.address, debt.checked & relays);
    return true;
  });
}

std::map<std::uint8_t, std::uint16_t> LineEngine::unconfirmed(const std::string& rule) const {
  std::map<std::uint8_t, std::uint16_t> left;
  for (const Owed& debt : owed_) {
    if (debt.sent.rule == rule) left[debt.sent.frame.address] |= debt.left;
  }
  return left;
}

std::optional<bool> LineEngine::commanded(std::uint8_t address, int relay) const {
  const Board* found = board(address);
  std::uint16_t opened = found && found->states ? *found->states : 0;
  std::uint16_t known = found && found->states ? 0xFFFF : 0;
  // A switch on the line is in the board's next answer, not yet in its last one.
  if (outstanding_ && outstanding_->switched && outstanding_->address == address) {
    apply_switch(*outstanding_->switched, opened, known);
  }
  switches_.apply(address, opened, known);
  const auto bit = static_cast<std::uint16_t>(1u << ((relay - 1) & 15));
  if (relay < 1 || relay > 16 || (known & bit) == 0) return std::nullopt;
  return (opened & bit) != 0;
}

bool LineEngine::send(const QueuedSwitch& frame, Clock::time_point now) {
  last_frame_ = CommandFrame::build(frame.address, frame.command, frame.data1, frame.data2);
  if (!output_->is_open()) return false;
  // A late answer to the last request must not pass for the answer to this one. After
  // an answer in time with nothing behind it, on a port that takes every byte in as it
  // comes, the input is empty already: clearing it would cost every request of a steady
  // poll a system call.
  if (!input_clear_ || !port_.takes_input_as_it_comes() || port_.bytes_waiting() > 0) {
    output_->discard_input();
  }
  input_clear_ = false;
  output_->write(last_frame_.bytes);
  const bool poll = frame.command == BoardCommand::QueryStatus;
  switch_last_ = !poll;
  outstanding_ = Outstanding{frame.address, now, poll ? std::nullopt : std::optional(frame)};
  if (!poll) observer_.switch_sent(frame, now);
  return true;
}

void LineEngine::missed(std::uint8_t address) {
  observer_.board_missed(address);
  for (Owed& debt : owed_) {
    if (debt.sent.frame.address == address) debt.resend.missed();
  }
  Board* silent = board(address);
  if (!silent) return;
  // A lost board costs the others its timeout less and less often.
  if (silent->misses + 1 >= timing_.misses_until_unknown) {
    silent->poll_interval = std::min<Clock::duration>(
        silent->misses + 1 == timing_.misses_until_unknown ? 2 * timing_.poll_period
                                                           : 2 * silent->poll_interval,
        timing_.longest_poll_interval);
  }
  // Counted up to the loss only: a board dead for years must not wrap the count.
  if (silent->misses >= timing_.misses_until_unknown) return;
  ++silent->misses;
  if (silent->misses != timing_.misses_until_unknown) return;
  silent->states.reset();
  for (Owed& debt : owed_) {
    if (debt.sent.frame.address == address) debt.resend.lost();
  }
  observer_.board_lost(address);
}

LineEngine::Board* LineEngine::board(std::uint8_t address) {
  for (Board& each : boards_) {
    if (each.address == address) return &each;
  }
  return nullptr;
}

const LineEngine::Board* LineEngine::board(std::uint8_t address) const {
  for (const Board& each : boards_) {
    if (each.address == address) return &each;
  }
  return nullptr;
}
