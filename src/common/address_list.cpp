#include "common/address_list.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "common/board_limits.h"

namespace {

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// Digits only: a sign, a fraction or hexadecimal is no address.
std::optional<int> address_number(std::string_view text) {
  text = trimmed(text);
  if (text.empty() || text.size() > 6) return std::nullopt;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  int value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::string quoted(std::string_view text) {
  return '"' + std::string(text) + '"';
}

}  // namespace

std::variant<std::vector<std::uint8_t>, std::string> parse_address_list(std::string_view text) {
  if (trimmed(text).empty()) return std::string("no board address given (e.g. 1,3,5-7)");
  const std::string_view whole = trimmed(text);
  std::vector<bool> listed(highest_address + 1, false);
  while (true) {
    const auto comma = text.find(',');
    const std::string_view item = trimmed(text.substr(0, comma));
    if (item.empty()) return "an empty item in the address list " + quoted(whole);
    const auto dash = item.find('-');
    const auto low = address_number(item.substr(0, dash));
    const auto high = dash == std::string_view::npos ? low : address_number(item.substr(dash + 1));
    if (!low || !high) {
      return quoted(item) + " is not a board address or a range of them (e.g. 1,3,5-7)";
    }
    if (*low > highest_address || *high > highest_address) {
      return quoted(item) + ": board addresses are 0 to 255";
    }
    if (*low > *high) return quoted(item) + " is a range from high to low";
    for (int address = *low; address <= *high; ++address) listed[address] = true;
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  std::vector<std::uint8_t> addresses;
  for (int address = 0; address <= highest_address; ++address) {
    if (listed[address]) addresses.push_back(static_cast<std::uint8_t>(address));
  }
  return addresses;
}

std::string address_list_text(const std::vector<std::uint8_t>& addresses) {
  std::string text;
  for (std::size_t i = 0; i < addresses.size();) {
    std::size_t end = i + 1;
    while (end < addresses.size() && addresses[end] == addresses[end - 1] + 1) ++end;
    if (!text.empty()) text += ',';
    text += std::to_string(addresses[i]);
    if (end - i >= 3) {
      text += '-' + std::to_string(addresses[end - 1]);
    } else if (end - i == 2) {
      text += ',' + std::to_string(addresses[i + 1]);
    }
    i = end;
  }
  return text;
}

std::string relay_list_text(std::uint16_t relays) {
  std::string text;
  for (int relay = 1; relay <= 16; ++relay) {
    if ((relays & (1u << (relay - 1))) == 0) continue;
    if (!text.empty()) text += ',';
    text += std::to_string(relay);
  }
  return text;
}
