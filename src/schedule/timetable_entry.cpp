#include "schedule/timetable_entry.h"

#include <array>
#include <map>
#include <optional>

#include "common/address_list.h"
#include "common/board_limits.h"
#include "common/duration_text.h"
#include "common/text_number.h"
#include "common/trimmed.h"

namespace {

constexpr std::array<std::string_view, 7> day_names = {"mon", "tue", "wed", "thu",
                                                       "fri", "sat", "sun"};
constexpr std::uint8_t every_day = 0x7F;

std::string quoted(std::string_view text) {
  return '"' + std::string(text) + '"';
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The words of `text` between blanks.
std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> result;
  while (true) {
    text = trimmed(text);
    if (text.empty()) return result;
    const auto blank = std::min(text.find_first_of(" \t"), text.size());
    result.push_back(text.substr(0, blank));
    text.remove_prefix(blank);
  }
}

bool starts_with_word(std::string_view text, std::string_view word) {
  return text.starts_with(word) &&
         (text.size() == word.size() || text[word.size()] == ' ' || text[word.size()] == '\t');
}

std::optional<std::string> read_time(std::string_view text, TimetableEntry& entry) {
  const auto colon = text.find(':');
  const auto hour =
      colon == 1 || colon == 2 ? small_decimal(text.substr(0, colon), 23) : std::nullopt;
  const auto minute = colon != std::string_view::npos && text.size() == colon + 3
                          ? small_decimal(text.substr(colon + 1), 59)
                          : std::nullopt;
  if (!hour || !minute) return quoted(text) + " is not a time (HH:MM, 00:00 to 23:59)";
  entry.hour = *hour;
  entry.minute = *minute;
  return std::nullopt;
}

std::optional<int> day_number(std::string_view text) {
  for (std::size_t day = 0; day < day_names.size(); ++day) {
    if (day_names[day] == text) return static_cast<int>(day);
  }
  return std::nullopt;
}

// "mon-fri", "sat,sun", "fri-mon" (wrapping over the week's end).
std::optional<std::string> read_days(std::vector<std::string_view> list, TimetableEntry& entry) {
  if (list.empty() || (list.size() == 2 && list[0] == "every" && list[1] == "day")) {
    entry.days = every_day;
    return std::nullopt;
  }
  std::string text;
  for (const auto word : list) text += word;
  std::uint8_t days = 0;
  std::string_view rest = text;
  while (true) {
    const auto comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    const auto dash = item.find('-');
    const auto first = day_number(item.substr(0, dash));
    const auto last = dash == std::string_view::npos ? first : day_number(item.substr(dash + 1));
    if (!first || !last) {
      return quoted(item) + " is not a day (mon tue wed thu fri sat sun) or a range of them";
    }
    for (int day = *first;; day = (day + 1) % 7) {
      days |= static_cast<std::uint8_t>(1u << day);
      if (day == *last) break;
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  entry.days = days;
  return std::nullopt;
}

std::optional<std::string> read_when(std::string_view text, TimetableEntry& entry) {
  auto list = words(text);
  if (list.size() >= 2 && list[0] == "at") {
    if (const auto why = read_time(list[1], entry)) return why;
    return read_days({list.begin() + 2, list.end()}, entry);
  }
  if (list.size() >= 3 && list[0] == "every") {
    if (const auto why = read_time(list.back(), entry)) return why;
    if (list.size() == 3 && list[1] == "day") {
      entry.days = every_day;
      return std::nullopt;
    }
    return read_days({list.begin() + 1, list.end() - 1}, entry);
  }
  return quoted(text) + " is not \"at HH:MM [days]\" or \"every DAYS HH:MM\"";
}

// "1/3", "2/1-4", "1/all".
std::optional<std::string> read_target(std::string_view text, TimetableEntry& entry) {
  const auto slash = text.find('/');
  const auto address =
      slash == std::string_view::npos ? std::nullopt : small_decimal(text.substr(0, slash), 255);
  if (!address) return quoted(text) + " is not ADDRESS/RELAYS (1/3, 2/1-4, 1/all)";
  entry.address = static_cast<std::uint8_t>(*address);
  const std::string_view relays = text.substr(slash + 1);
  if (relays == "all") {
    entry.relays = 0xFFFF;
    return std::nullopt;
  }
  // The relays are written like a list of boards, within 1 to 16.
  const auto list = parse_address_list(relays);
  const auto* numbers = std::get_if<std::vector<std::uint8_t>>(&list);
  if (!numbers || numbers->front() < 1 || numbers->back() > relay_count) {
    return quoted(relays) + " are not relays 1 to 16 (3, 1-4, 3,5, all)";
  }
  for (const auto relay : *numbers) entry.relays |= static_cast<std::uint16_t>(1u << (relay - 1));
  return std::nullopt;
}

std::optional<std::string> read_switch(std::string_view text, TimetableEntry& entry) {
  const auto blank = std::min(text.find_first_of(" \t"), text.size());
  if (const auto why = read_target(text.substr(0, blank), entry)) return why;
  std::string_view rest = text.substr(blank);
  const auto comma = rest.find(',');
  const auto verb = words(rest.substr(0, comma));
  if (verb.size() == 1 && verb[0] == "on") {
    entry.action = TimetableEntry::Action::on;
  } else if (verb.size() == 1 && verb[0] == "off") {
    entry.action = TimetableEntry::Action::off;
  } else if (verb.size() == 2 && verb[0] == "pulse") {
    const auto length = parse_duration(verb[1]);
    if (!length) return "pulse " + std::string(verb[1]) + ": " + std::string(duration_form);
    entry.action = TimetableEntry::Action::pulse;
    entry.pulse_length = *length;
  } else {
    return "say on, off or pulse DURATION after " + quoted(text.substr(0, blank));
  }
  if (comma == std::string_view::npos) return std::nullopt;
  std::string_view options = rest.substr(comma + 1);
  while (true) {
    const auto next = options.find(',');
    const auto option = trimmed(options.substr(0, next));
    if (words(option) != std::vector<std::string_view>{"catch", "up"}) {
      return quoted(option) + " is not an option (catch up)";
    }
    entry.catch_up = true;
    if (next == std::string_view::npos) break;
    options.remove_prefix(next + 1);
  }
  return std::nullopt;
}

// The ':' that ends the time and days: the first one not inside a time.
std::size_t when_end(std::string_view text) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] != ':') continue;
    if (at > 0 && at + 1 < text.size() && is_digit(text[at - 1]) && is_digit(text[at + 1])) {
      continue;
    }
    return at;
  }
  return std::string_view::npos;
}

}  // namespace

std::variant<TimetableEntry, std::string> parse_timetable_entry(std::string_view text) {
  TimetableEntry entry;
  text = trimmed(text);
  std::string_view rest = text;
  if (!starts_with_word(text, "at") && !starts_with_word(text, "every")) {
    const auto colon = text.find(':');
    const auto name = trimmed(text.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : trimmed(text.substr(colon + 1));
    if (name.empty() || (!starts_with_word(rest, "at") && !starts_with_word(rest, "every"))) {
      return std::string("an entry reads \"at 06:30 mon-fri: 1/3 on\", after an optional name:");
    }
    entry.name = std::string(name);
  } else {
    entry.name = std::string(text);
  }
  const auto end = when_end(rest);
  if (end == std::string_view::npos) return std::string("no ':' after the time and days");
  if (const auto why = read_when(rest.substr(0, end), entry)) return *why;
  if (const auto why = read_switch(trimmed(rest.substr(end + 1)), entry)) return *why;
  return entry;
}

std::variant<std::vector<TimetableEntry>, std::string> parse_timetable(
    const std::vector<TimetableLine>& lines) {
  std::vector<TimetableEntry> entries;
  std::map<std::string, std::string, std::less<>> named_at;
  for (const auto& line : lines) {
    auto parsed = parse_timetable_entry(line.text);
    if (auto* why = std::get_if<std::string>(&parsed)) return line.where + ": " + *why;
    auto& entry = std::get<TimetableEntry>(parsed);
    if (const auto [first, fresh] = named_at.emplace(entry.name, line.where); !fresh) {
      return line.where + ": " + quoted(entry.name) + " is already the name of the entry at " +
             first->second;
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}
