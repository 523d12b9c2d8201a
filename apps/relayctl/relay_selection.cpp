#include "relay_selection.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace {

bool all_digits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool is_range(std::string_view word) {
  const auto dash = word.find('-');
  return dash != std::string_view::npos && all_digits(word.substr(0, dash)) &&
         all_digits(word.substr(dash + 1));
}

// A relay number, or the message for a number that is none.
std::variant<int, std::string> relay_number(std::string_view text) {
  int number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc{} || end != text.data() + text.size() || number < 1 ||
      number > relay_count) {
    return "relay " + std::string(text) + " does not exist: relays are 1 to 16";
  }
  return number;
}

std::variant<RelayMask, std::string> one_word(const std::string& word, const RelayNames* names) {
  if (word == "all") return all_relays;
  if (all_digits(word)) {
    const auto number = relay_number(word);
    if (const auto* message = std::get_if<std::string>(&number)) return *message;
    return relay_bit(std::get<int>(number));
  }
  if (is_range(word)) {
    const auto dash = word.find('-');
    const auto first = relay_number(word.substr(0, dash));
    const auto last = relay_number(word.substr(dash + 1));
    if (const auto* message = std::get_if<std::string>(&first)) return *message;
    if (const auto* message = std::get_if<std::string>(&last)) return *message;
    if (std::get<int>(first) > std::get<int>(last)) {
      return "the range " + word + " runs backwards; write it lowest first";
    }
    RelayMask mask = 0;
    for (int relay = std::get<int>(first); relay <= std::get<int>(last); ++relay) {
      mask |= relay_bit(relay);
    }
    return mask;
  }
  if (!names) return "no relay is named \"" + word + "\": there is no name file";
  RelayMask mask = 0;
  int found = 0;
  for (int relay = 1; relay <= relay_count; ++relay) {
    if ((*names)[static_cast<std::size_t>(relay - 1)] != word) continue;
    mask |= relay_bit(relay);
    ++found;
  }
  if (found == 0) return "no relay is named \"" + word + "\" at this address";
  // A script must not switch two relays because two share a name by accident.
  if (found > 1) return "more than one relay is named \"" + word + "\"; use their numbers";
  return mask;
}

}  // namespace

bool reads_as_relays(std::string_view word) {
  return word == "all" || all_digits(word) || is_range(word);
}

std::variant<RelayMask, std::string> select_relays(std::span<const std::string> words,
                                                   const RelayNames* names) {
  RelayMask mask = 0;
  for (const auto& word : words) {
    const auto selected = one_word(word, names);
    if (const auto* message = std::get_if<std::string>(&selected)) return *message;
    mask |= std::get<RelayMask>(selected);
  }
  return mask;
}
