#include "line/switch_queue.h"

#include <algorithm>

#include "common/board_limits.h"

std::uint16_t QueuedSwitch::relays() const {
  if (command == BoardCommand::SetAllRelays) return 0xFFFF;
  const bool single = command == BoardCommand::CloseRelay || command == BoardCommand::OpenRelay;
  if (!single || data2 < 1 || data2 > relay_count) return 0;
  return static_cast<std::uint16_t>(1u << (data2 - 1));
}

void SwitchQueue::push(const QueuedSwitch& next, SwitchLane lane) {
  const std::uint16_t relays = next.relays();
  const auto replaced = [&](const QueuedSwitch& waiting) {
    const std::uint16_t set = waiting.relays();
    return waiting.address == next.address && set != 0 && (set & relays) == set;
  };
  auto& own = lane_(lane);
  // It takes the place of the first one it replaces: a relay switched faster than the
  // line goes round keeps its turn instead of being put back at the end each time.
  const auto place = std::find_if(own.begin(), own.end(), replaced);
  if (place != own.end()) {
    *place = next;
    std::erase_if(lane_(lane == SwitchLane::first ? SwitchLane::in_turn : SwitchLane::first),
                  replaced);
    own.erase(std::remove_if(place + 1, own.end(), replaced), own.end());
    return;
  }
  std::erase_if(first_, replaced);
  std::erase_if(in_turn_, replaced);
  if (lane == SwitchLane::first) {
    // What was given before for the same relays must not come after it.
    const auto earlier =
        std::find_if(in_turn_.begin(), in_turn_.end(), [&](const QueuedSwitch& waiting) {
          return waiting.address == next.address && (waiting.relays() & relays) != 0;
        });
    if (earlier != in_turn_.end()) {
      first_.push_back(*earlier);
      in_turn_.erase(earlier);
    }
  }
  own.push_back(next);
}

std::optional<QueuedSwitch> SwitchQueue::pop(SwitchLane lane) {
  auto& waiting = lane_(lane);
  if (waiting.empty()) return std::nullopt;
  const QueuedSwitch next = waiting.front();
  waiting.pop_front();
  return next;
}

void SwitchQueue::clear() {
  first_.clear();
  in_turn_.clear();
}

void SwitchQueue::drop(std::uint8_t address) {
  for (auto* lane : {&first_, &in_turn_}) {
    std::erase_if(*lane, [address](const QueuedSwitch& each) { return each.address == address; });
  }
}

void SwitchQueue::apply(std::uint8_t address, std::uint16_t& opened, std::uint16_t& known) const {
  for (const auto* lane : {&first_, &in_turn_}) {
    for (const QueuedSwitch& waiting : *lane) {
      if (waiting.address == address) apply_switch(waiting, opened, known);
    }
  }
}

void apply_switch(const QueuedSwitch& frame, std::uint16_t& opened, std::uint16_t& known) {
  const std::uint16_t relays = frame.relays();
  known |= relays;
  // 0x12 opens relay n, 0x11 closes it; 0x13 sets all 16 from its two data bytes.
  if (frame.command == BoardCommand::SetAllRelays) {
    opened = static_cast<std::uint16_t>(frame.data1 << 8 | frame.data2);
  } else if (frame.command == BoardCommand::OpenRelay) {
    opened |= relays;
  } else {
    opened = static_cast<std::uint16_t>(opened & ~relays);
  }
}
