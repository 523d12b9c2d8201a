#include "event_log/event_recorder.h"

#include <algorithm>

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

void EventRecorder::credit(std::uint8_t address, std::uint16_t relays,
                           std::optional<std::uint16_t> opened, const SwitchSource& by,
                           Event::Time now) {
  Board& board = boards_[address];
  for (std::size_t index = 0; index < board.credits.size(); ++index) {
    const auto bit = static_cast<std::uint16_t>(1u << index);
    if ((relays & bit) == 0) continue;
    auto& credits = board.credits[index];
    if (credits.size() == credits_kept) credits.pop_front();
    credits.push_back({by, opened ? std::optional<bool>((*opened & bit) != 0) : std::nullopt,
                       now + credit_window});
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
    auto& credits = board.credits[index];
    std::erase_if(credits, [now](const Credit& each) { return each.until < now; });
    const auto bit = static_cast<std::uint16_t>(1u << index);
    const bool on = (opened & bit) != 0;
    if (before && ((*before ^ opened) & bit) != 0) {
      Event e = event(Event::Kind::switched, address, static_cast<int>(index + 1), now);
      e.was_on = !on;
      e.now_on = on;
      const auto cause = std::find_if(credits.begin(), credits.end(), [on](const Credit& each) {
        return !each.on || *each.on == on;
      });
      if (cause != credits.end()) {
        e.source = cause->by.source;
        e.who = cause->by.who;
        e.reason = cause->by.reason;
        credits.erase(credits.begin(), cause + 1);
      } else {
        e.source = "board";
      }
      sink_.record(e);
    }
    if (reports_ == Reports::in_turn && credits.size() > 1) {
      credits.erase(credits.begin(), credits.end() - 1);
    }
    while (!credits.empty() && credits.front().on == on) credits.pop_front();
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
