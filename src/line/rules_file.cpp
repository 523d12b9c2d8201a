#include "line/rules_file.h"

#include <bit>
#include <optional>

#include "common/board_limits.h"
#include "common/duration_text.h"
#include "settings/settings_files.h"
#include "settings/settings_text.h"
#include "common/text_number.h"
#include "common/trimmed.h"

namespace {

// "1,2" or "3-5,8": relays 1 to 16 as a mask, or why not.
std::variant<std::uint16_t, std::string> relay_list(std::string_view text) {
  std::uint16_t mask = 0;
  while (true) {
    const auto comma = text.find(',');
    const std::string_view item = trimmed(text.substr(0, comma));
    const auto dash = item.find('-');
    const auto low = small_decimal(trimmed(item.substr(0, dash)), relay_count);
    const auto high = dash == std::string_view::npos
                          ? low
                          : small_decimal(trimmed(item.substr(dash + 1)), relay_count);
    if (!low || !high || *low < 1 || *high < *low) {
      // Appended piece by piece: GCC 12 at -O3 misreads "literal" + std::string&& (-Wrestrict).
      std::string why = "\"";
      why += item;
      why += "\" is not a relay (1 to 16) or a range of them";
      return why;
    }
    for (int relay = *low; relay <= *high; ++relay)
      mask |= static_cast<std::uint16_t>(1u << (relay - 1));
    if (comma == std::string_view::npos) return mask;
    text.remove_prefix(comma + 1);
  }
}

// One "key = value" line of a board's section; why it cannot be taken, if it cannot.
std::optional<std::string> apply(BoardRules& board, std::string_view key, std::string_view value) {
  if (key == "interlock") {
    auto group = relay_list(value);
    if (const auto* why = std::get_if<std::string>(&group)) return *why;
    const auto mask = std::get<std::uint16_t>(group);
    if (std::popcount(mask) < 2) return std::string("an interlock needs two relays or more");
    board.interlocks.push_back(mask);
    return std::nullopt;
  }
  if (key == "max_on") {
    const auto colon = value.find(':');
    if (colon == std::string_view::npos)
      return std::string("write max_on = relay: duration (5: 30s)");
    const auto relay = small_decimal(trimmed(value.substr(0, colon)), relay_count);
    if (!relay || *relay < 1) return std::string("max_on names no relay 1 to 16");
    const auto limit = parse_duration(trimmed(value.substr(colon + 1)));
    if (!limit)
      return "max_on of relay " + std::to_string(*relay) + ": " + std::string(duration_form);
    auto& slot = board.max_on[static_cast<std::size_t>(*relay - 1)];
    if (slot) return "max_on of relay " + std::to_string(*relay) + " given twice";
    slot = *limit;
    return std::nullopt;
  }
  if (key == "on_start") {
    if (value == "keep") {
      board.on_start = BoardRules::Start::keep;
    } else if (value == "off") {
      board.on_start = BoardRules::Start::off;
    } else {
      constexpr std::string_view on = " on";
      if (value.size() <= on.size() || value.substr(value.size() - on.size()) != on) {
        return std::string("on_start is keep, off, or the relays to switch on (3,4 on)");
      }
      auto relays = relay_list(value.substr(0, value.size() - on.size()));
      if (const auto* why = std::get_if<std::string>(&relays)) return *why;
      board.on_start = BoardRules::Start::exactly;
      board.start_opened = std::get<std::uint16_t>(relays);
    }
    return std::nullopt;
  }
  if (key == "on_stop") {
    if (value == "keep") {
      board.on_stop = BoardRules::Stop::keep;
    } else if (value == "off") {
      board.on_stop = BoardRules::Stop::off;
    } else {
      return std::string("on_stop is keep or off");
    }
    return std::nullopt;
  }
  return "no rule is called \"" + std::string(key) + "\" (interlock, max_on, on_start, on_stop)";
}

// A start state that breaks an interlock would be refused at every start.
std::optional<std::string> check(const BoardRules& board) {
  if (board.on_start != BoardRules::Start::exactly) return std::nullopt;
  for (const std::uint16_t group : board.interlocks) {
    if (std::popcount(static_cast<std::uint16_t>(group & board.start_opened)) > 1) {
      return std::string("on_start switches on two relays of one interlock");
    }
  }
  return std::nullopt;
}

}  // namespace

std::variant<LineRules, std::string> parse_rules(std::string_view text,
                                                 const std::string& file_name) {
  auto read = settings_lines(text, file_name,
                             {.sections = true,
                              .no_separator = "no '=' between rule and value",
                              .repeatable = {"interlock", "max_on"}});
  if (auto* why = std::get_if<std::string>(&read)) return std::move(*why);
  LineRules rules;
  BoardRules* board = nullptr;
  int section_line = 0;
  const auto where = [&](int line) { return settings_where(file_name, line); };
  for (const SettingsLine& line : std::get<std::vector<SettingsLine>>(read)) {
    if (line.section) {
      if (board) {
        if (const auto why = check(*board)) return where(section_line) + *why;
      }
      constexpr std::string_view head = "address";
      const std::string_view inside = line.key;
      const auto address = inside.substr(0, head.size()) == head
                               ? small_decimal(trimmed(inside.substr(head.size())), highest_address)
                               : std::nullopt;
      if (!address) return where(line.number) + "a section is [address N], N from 0 to 255";
      if (rules.boards.count(static_cast<std::uint8_t>(*address)) != 0) {
        return where(line.number) + "board " + std::to_string(*address) + " has two sections";
      }
      board = &rules.boards[static_cast<std::uint8_t>(*address)];
      section_line = line.number;
      continue;
    }
    if (!board) return where(line.number) + "a rule before the first [address N]";
    if (const auto why = apply(*board, line.key, line.value)) return where(line.number) + *why;
  }
  if (board) {
    if (const auto why = check(*board)) return where(section_line) + *why;
  }
  return rules;
}

std::variant<LineRules, std::string> read_rules(const std::filesystem::path& folder) {
  const FileText read = read_folder_settings(folder, rules_file_name);
  if (!read.text) return read.reason;
  return parse_rules(*read.text, (folder / rules_file_name).string());
}
