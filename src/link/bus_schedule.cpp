#include "link/bus_schedule.h"

#include <algorithm>

#include "link/poll_cycle.h"
#include "protocol/command_frame.h"
#include "protocol/status_frame.h"

BusSchedule::BusSchedule(SerialPort& port, std::vector<std::uint8_t> addresses,
                         BusObserver& observer)
    : port_(port), addresses_(std::move(addresses)), observer_(observer) {
  // A board listed twice would only be polled twice as often.
  std::vector<std::uint8_t> unique;
  for (const std::uint8_t address : addresses_) {
    if (std::find(unique.begin(), unique.end(), address) != unique.end()) continue;
    unique.push_back(address);
    Board board;
    board.address = address;
    boards_.push_back(board);
  }
  addresses_ = std::move(unique);
}

std::optional<SwitchRefusal> BusSchedule::queue_switch(std::uint8_t address, BoardCommand command,
                                                       std::uint8_t data1, std::uint8_t data2) {
  if (!port_.is_open()) return SwitchRefusal::line_not_open;
  if (device_lost_) return SwitchRefusal::device_lost;
  switches_.push_back({address, command, data1, data2});
  return std::nullopt;
}

BusSchedule::Clock::time_point BusSchedule::step(Clock::time_point now) {
  if (outstanding_) {
    const auto deadline = outstanding_->sent_at + answer_timeout;
    if (now < deadline) return deadline;
    const std::uint8_t address = outstanding_->address;
    outstanding_.reset();
    missed(address);
  }
  // A closed line sends nothing; the host looks again on the poll's rhythm.
  if (!port_.is_open()) return now + PollCycle::period;

  if (!switches_.empty()) {
    const Frame frame = switches_.front();
    switches_.pop_front();
    send(frame, now);
    return now + answer_timeout;
  }

  // The first due board from where the last poll left off, so that every board gets
  // its turn however slow the others are.
  const std::size_t count = boards_.size();
  auto next_due = Clock::time_point::max();
  for (std::size_t i = 0; i < count; ++i) {
    Board& candidate = boards_[(next_board_ + i) % count];
    const auto due = candidate.polled ? candidate.last_poll + PollCycle::period : now;
    if (due > now) {
      next_due = std::min(next_due, due);
      continue;
    }
    candidate.polled = true;
    candidate.last_poll = now;
    next_board_ = (next_board_ + i + 1) % count;
    send({candidate.address, BoardCommand::QueryStatus, 0x00, 0x00}, now);
    return now + answer_timeout;
  }
  return next_due == Clock::time_point::max() ? now + PollCycle::period : next_due;
}

void BusSchedule::on_receive(int event_code, Clock::time_point now) {
  if (event_code != comm_event_receive) return;
  const auto answer = read_answer(port_);
  if (!answer) return;
  const StatusFrame frame{*answer};
  // Unasked bytes, or a garbled answer: the request's timeout decides, and the input is
  // cleared before the next request anyway.
  if (!outstanding_ || !frame.is_valid()) return;
  const std::uint8_t address = outstanding_->address;
  const bool in_time = now < outstanding_->sent_at + answer_timeout;
  outstanding_.reset();
  if (!in_time) {
    missed(address);
    return;
  }
  Board* answered = board(address);
  if (!answered) return;
  const auto opened = static_cast<std::uint16_t>(frame.bytes[5] << 8 | frame.bytes[6]);
  answered->misses = 0;
  answered->states = opened;
  observer_.board_answered(address, opened);
}

void BusSchedule::reset() {
  outstanding_.reset();
  switches_.clear();
  // Every board is due at once when the line is back.
  for (Board& each : boards_) each.polled = false;
}

void BusSchedule::set_device_lost(bool lost) {
  device_lost_ = lost;
  if (lost) reset();
}

std::optional<std::uint16_t> BusSchedule::states(std::uint8_t address) const {
  for (const Board& each : boards_) {
    if (each.address == address) return each.states;
  }
  return std::nullopt;
}

void BusSchedule::send(const Frame& frame, Clock::time_point now) {
  const CommandFrame command =
      CommandFrame::build(frame.address, frame.command, frame.data1, frame.data2);
  // A late answer to the last request must not pass for the answer to this one.
  port_.discard_input();
  port_.write(command.bytes);
  outstanding_ = Outstanding{frame.address, now};
}

void BusSchedule::missed(std::uint8_t address) {
  Board* silent = board(address);
  // Counted up to the loss only: a board dead for years must not wrap the count.
  if (!silent || silent->misses >= misses_until_unknown) return;
  ++silent->misses;
  if (silent->misses != misses_until_unknown) return;
  silent->states.reset();
  observer_.board_lost(address);
}

BusSchedule::Board* BusSchedule::board(std::uint8_t address) {
  for (Board& each : boards_) {
    if (each.address == address) return &each;
  }
  return nullptr;
}
