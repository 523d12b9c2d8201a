#include "event_log/event_recorder.h"

Event EventRecorder::event(Event::Kind kind, std::uint8_t address, int relay,
                           Event::Time now) const {
  Event e;
  e.at = now;
  e.kind = kind;
  e.line = line_;
  e.address = address;
  e.relay = relay;
  return e;
}

void EventRecorder::commanded(std::uint8_t address, std::uint16_t relays, const SwitchSource& by,
                              Event::Time now) {
  Board& board = boards_[address];
  for (std::size_t index = 0; index < board.credits.size(); ++index) {
    if ((relays & (1u << index)) != 0) board.credits[index] = Credit{by, now + credit_window};
  }
}

void EventRecorder::reported(std::uint8_t address, std::uint16_t opened, Event::Time now) {
  Board& board = boards_[address];
  if (board.lost) {
    board.lost = false;
    Event back = event(Event::Kind::board_back, address, 0, now);
    back.source = "board";
    sink_.record(back);
  }
  const std::optional<std::uint16_t> before = board.opened;
  board.opened = opened;
  for (std::size_t index = 0; index < board.credits.size(); ++index) {
    auto& credit = board.credits[index];
    if (credit && credit->until < now) credit.reset();
    const auto bit = static_cast<std::uint16_t>(1u << index);
    if (!before || ((*before ^ opened) & bit) == 0) continue;
    Event e = event(Event::Kind::switched, address, static_cast<int>(index + 1), now);
    e.was_on = (*before & bit) != 0;
    e.now_on = (opened & bit) != 0;
    if (credit) {
      e.source = credit->by.source;
      e.who = credit->by.who;
      e.reason = credit->by.reason;
      credit.reset();
    } else {
      e.source = "board";
    }
    sink_.record(e);
  }
}

void EventRecorder::lost(std::uint8_t address, Event::Time now) {
  Board& board = boards_[address];
  if (board.lost) return;
  board.lost = true;
  board.opened.reset();
  Event e = event(Event::Kind::board_lost, address, 0, now);
  e.source = "board";
  sink_.record(e);
}

void EventRecorder::refused(std::uint8_t address, int relay, const SwitchSource& by,
                            const std::string& why, Event::Time now, Event::Kind kind) {
  Event e = event(kind, address, relay, now);
  e.source = by.source;
  e.who = by.who;
  e.reason = why;
  sink_.record(e);
}
