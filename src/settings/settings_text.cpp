#include "settings/settings_text.h"

#include <algorithm>
#include <map>

#include "common/trimmed.h"

namespace {

// The line without a comment that follows its value.
std::string_view without_comment(std::string_view line) {
  for (std::size_t hash = line.find('#'); hash != std::string_view::npos;
       hash = line.find('#', hash + 1)) {
    if (hash > 0 && (line[hash - 1] == ' ' || line[hash - 1] == '\t')) {
      return trimmed(line.substr(0, hash));
    }
  }
  return line;
}

}  // namespace

std::string settings_where(std::string_view file_name, int number) {
  std::string where(file_name);
  where += ':';
  where += std::to_string(number);
  where += ": ";
  return where;
}

std::variant<std::vector<SettingsLine>, std::string> settings_lines(
    std::string_view text, std::string_view file_name, const SettingsGrammar& grammar) {
  // An editor's UTF-8 mark is no part of the first key.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<SettingsLine> lines;
  // Where each key of the current section was set: a second setting is a mistake,
  // whichever was meant.
  std::map<std::string_view, int> set_on;
  for (int number = 1; !text.empty(); ++number) {
    const auto end = std::min(text.find('\n'), text.size());
    std::string_view line = trimmed(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.empty() || line.front() == '#') continue;
    if (grammar.trailing_comments) line = without_comment(line);
    if (grammar.sections && line.front() == '[') {
      const std::string_view inside =
          line.back() == ']' ? trimmed(line.substr(1, line.size() - 2)) : line;
      lines.push_back({number, true, inside, {}});
      set_on.clear();
      continue;
    }
    const auto separator = line.find(grammar.separator);
    if (separator == std::string_view::npos) {
      if (grammar.skip_other_lines) continue;
      return settings_where(file_name, number) + std::string(grammar.no_separator);
    }
    const std::string_view key = trimmed(line.substr(0, separator));
    const bool repeats = std::find(grammar.repeatable.begin(), grammar.repeatable.end(), key) !=
                         grammar.repeatable.end();
    if (const auto [first, fresh] = set_on.emplace(key, number); !fresh && !repeats) {
      return settings_where(file_name, number) + std::string(key) + ": already set on line " +
             std::to_string(first->second);
    }
    lines.push_back({number, false, key, trimmed(line.substr(separator + 1))});
  }
  return lines;
}
