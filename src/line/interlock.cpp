#include "line/interlock.h"

#include <bit>

std::string relays_text(std::uint16_t mask) {
  std::string text;
  const int count = std::popcount(mask);
  int listed = 0;
  for (int relay = 1; relay <= 16; ++relay) {
    if ((mask & (1u << (relay - 1))) == 0) continue;
    ++listed;
    if (listed > 1) text += listed == count ? " and " : ", ";
    text += std::to_string(relay);
  }
  return (count == 1 ? "relay " : "relays ") + text;
}

std::uint16_t opened_after(BoardCommand command, std::uint8_t data1, std::uint8_t data2,
                           std::uint16_t opened) {
  const auto bit = [&] {
    return data2 >= 1 && data2 <= 16 ? static_cast<std::uint16_t>(1u << (data2 - 1)) : 0;
  };
  switch (command) {
    case BoardCommand::OpenRelay:
      return opened | bit();
    case BoardCommand::CloseRelay:
      return static_cast<std::uint16_t>(opened & ~bit());
    case BoardCommand::SetAllRelays:
      return static_cast<std::uint16_t>(data1 << 8 | data2);
    case BoardCommand::QueryStatus:
      break;
  }
  return opened;
}

std::optional<std::string> interlock_refusal(const LineRules& rules, std::uint8_t address,
                                             std::optional<std::uint16_t> opened,
                                             BoardCommand command, std::uint8_t data1,
                                             std::uint8_t data2) {
  // What the command switches on, whatever is on now.
  return interlock_refusal(rules, address, opened, opened_after(command, data1, data2, 0),
                           opened ? opened_after(command, data1, data2, *opened) : 0);
}

std::optional<std::string> interlock_refusal(const LineRules& rules, std::uint8_t address,
                                             std::optional<std::uint16_t> opened,
                                             std::uint16_t switched_on, std::uint16_t after) {
  const BoardRules* board = rules.find(address);
  if (board == nullptr || board->interlocks.empty()) return std::nullopt;
  const std::string where = " of board " + std::to_string(address);
  for (const std::uint16_t group : board->interlocks) {
    const auto asked = static_cast<std::uint16_t>(switched_on & group);
    if (asked == 0) continue;
    if (std::popcount(asked) > 1) {
      return relays_text(group) + where + " are interlocked: only one may be on at a time";
    }
    if (!opened) {
      return relays_text(asked) + where + " is interlocked and the board's states are not " +
             "known yet";
    }
    const auto others = static_cast<std::uint16_t>(after & group & ~asked);
    if (others != 0) {
      return relays_text(asked) + where + " is interlocked with " + relays_text(others) +
             ", which is on";
    }
  }
  return std::nullopt;
}
