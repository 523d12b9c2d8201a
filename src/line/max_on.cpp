#include "line/max_on.h"

#include "common/duration_text.h"
#include "line/interlock.h"

void MaxOnWatch::reported(std::uint8_t address, std::uint16_t opened, Clock::time_point now) {
  const BoardRules* rules = rules_->find(address);
  if (rules == nullptr) return;
  // The board's first report settles what was recalled for it.
  const auto recalled = recalled_.extract(address);
  Board& board = boards_[address];
  for (std::size_t index = 0; index < board.on_since.size(); ++index) {
    if (!rules->max_on[index]) continue;
    const auto bit = static_cast<std::uint16_t>(1u << index);
    auto& since = board.on_since[index];
    if ((opened & bit) == 0) {
      since.reset();
      board.named = static_cast<std::uint16_t>(board.named & ~bit);
    } else if (!since) {
      since = recalled && recalled.mapped()[index] ? *recalled.mapped()[index] : now;
    }
  }
}

void MaxOnWatch::forget(std::uint8_t address, std::uint16_t relays) {
  const auto found = boards_.find(address);
  if (found == boards_.end()) return;
  Board& board = found->second;
  for (std::size_t index = 0; index < board.on_since.size(); ++index) {
    if ((relays & (1u << index)) != 0) board.on_since[index].reset();
  }
  board.named = static_cast<std::uint16_t>(board.named & ~relays);
}

std::vector<MaxOnWatch::Due> MaxOnWatch::take_due(Clock::time_point now) {
  std::vector<Due> due;
  for (auto& [address, board] : boards_) {
    const BoardRules& rules = *rules_->find(address);
    for (std::size_t index = 0; index < board.on_since.size(); ++index) {
      const auto bit = static_cast<std::uint16_t>(1u << index);
      const auto& since = board.on_since[index];
      if (!since || (board.named & bit) != 0 || now - *since < *rules.max_on[index]) continue;
      board.named = static_cast<std::uint16_t>(board.named | bit);
      due.push_back({address, static_cast<int>(index + 1), *rules.max_on[index]});
    }
  }
  return due;
}

std::optional<MaxOnWatch::Clock::time_point> MaxOnWatch::next_due() const {
  std::optional<Clock::time_point> next;
  for (const auto& [address, board] : boards_) {
    const BoardRules& rules = *rules_->find(address);
    for (std::size_t index = 0; index < board.on_since.size(); ++index) {
      const auto& since = board.on_since[index];
      if (!since || (board.named & (1u << index)) != 0) continue;
      const auto at = *since + *rules.max_on[index];
      if (!next || at < *next) next = at;
    }
  }
  return next;
}

std::vector<OwedState::On> MaxOnWatch::owed() const {
  std::vector<OwedState::On> owed;
  auto board = boards_.begin();
  auto recalled = recalled_.begin();
  // By board, the boards reported and those still recalled in one order.
  while (board != boards_.end() || recalled != recalled_.end()) {
    const bool seen =
        recalled == recalled_.end() || (board != boards_.end() && board->first <= recalled->first);
    const std::uint8_t address = seen ? board->first : recalled->first;
    const auto& since = seen ? board->second.on_since : recalled->second;
    for (std::size_t index = 0; index < since.size(); ++index) {
      if (since[index]) owed.push_back({address, static_cast<int>(index + 1), *since[index]});
    }
    if (seen) {
      ++board;
    } else {
      ++recalled;
    }
  }
  return owed;
}

void MaxOnWatch::recall(const std::vector<OwedState::On>& on, Clock::time_point now) {
  for (const OwedState::On& each : on) {
    const BoardRules* rules = rules_->find(each.address);
    if (rules == nullptr || each.relay < 1 || each.relay > 16 || !rules->max_on[each.relay - 1])
      continue;
    if (boards_.contains(each.address)) continue;  // reported already: the report holds
    recalled_[each.address][each.relay - 1] = std::min(each.since, now);
  }
}

std::optional<std::string> pulse_refusal(const LineRules& rules, std::uint8_t address,
                                         std::uint16_t relays, std::chrono::milliseconds hold) {
  const BoardRules* board = rules.find(address);
  if (board == nullptr) return std::nullopt;
  for (std::size_t index = 0; index < board->max_on.size(); ++index) {
    const auto& limit = board->max_on[index];
    if ((relays & (1u << index)) == 0 || !limit || hold <= *limit) continue;
    return "a pulse of " + duration_text(hold) + " is longer than the max_on of " +
           duration_text(*limit) + " of " + relays_text(static_cast<std::uint16_t>(1u << index)) +
           " of board " + std::to_string(address);
  }
  return std::nullopt;
}
