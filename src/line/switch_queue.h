#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "protocol/board_command.h"

// How soon a switch goes out.
enum class SwitchLane {
  in_turn,  // after the switches before it, taking turns with the polls
  first,    // a pulse's edge: before every other switch and poll, so that a backlog
            // never stretches the pulse
};

// One switch frame for the line.
struct QueuedSwitch {
  std::uint8_t address = 0;
  BoardCommand command = BoardCommand::SetAllRelays;
  std::uint8_t data1 = 0;
  std::uint8_t data2 = 0;

  // The relays it sets (bit r-1 for relay r): one, all 16, or none for a frame that
  // names no relay (which is then never replaced).
  std::uint16_t relays() const;
};

// The switches waiting for the line, kept so that what waits is bounded by the relays
// served, not by what clients send: a switch replaces the ones still waiting that set
// only relays it sets too (the latest wins, and switching all of a board's relays
// replaces everything waiting for that board). Each relay's switches still go out in the
// order given: a first-lane switch takes the waiting all-relays switch of its board along.
class SwitchQueue {
 public:
  void push(const QueuedSwitch& next, SwitchLane lane);
  // The next switch to send, from the first lane if it holds one.
  std::optional<QueuedSwitch> pop(SwitchLane lane);
  bool empty(SwitchLane lane) const { return lane_(lane).empty(); }
  std::size_t size() const { return first_.size() + in_turn_.size(); }
  void clear();
  // Forgets what waits for `address`.
  void drop(std::uint8_t address);

  // Relay states `opened` of `address` (those known in `known`) as every waiting switch
  // of that board leaves them, in the order the switches go out.
  void apply(std::uint8_t address, std::uint16_t& opened, std::uint16_t& known) const;

 private:
  std::deque<QueuedSwitch>& lane_(SwitchLane lane) {
    return lane == SwitchLane::first ? first_ : in_turn_;
  }
  const std::deque<QueuedSwitch>& lane_(SwitchLane lane) const {
    return lane == SwitchLane::first ? first_ : in_turn_;
  }

  std::deque<QueuedSwitch> first_;
  std::deque<QueuedSwitch> in_turn_;
};

// What `frame` does to relay states `opened` (those known in `known`).
void apply_switch(const QueuedSwitch& frame, std::uint16_t& opened, std::uint16_t& known);
