#include "names/profile_text.h"

#include <algorithm>

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}
bool is_line_break(char c) {
  return c == '\r' || c == '\n';
}
char fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

// Only ASCII letters fold, and only whole characters: a character of more than one
// byte compares exactly, so that one relay's name cannot overwrite another's.
bool same_name(std::string_view a, std::string_view b, CharLength char_length) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size();) {
    const std::size_t length = char_length ? std::max<std::size_t>(char_length(a, i), 1) : 1;
    if (length == 1) {
      if (fold(a[i]) != fold(b[i])) return false;
    } else if (a.substr(i, length) != b.substr(i, length)) {
      return false;
    }
    i += length;
  }
  return true;
}

std::string_view unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// One line: its content is [begin, end); the next line starts at `next`.
struct Line {
  std::size_t begin;
  std::size_t end;
  std::size_t next;
};

Line line_at(std::string_view text, std::size_t begin) {
  std::size_t end = begin;
  while (end < text.size() && !is_line_break(text[end])) ++end;
  std::size_t next = end;
  if (next < text.size()) {
    const bool crlf = text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n';
    next += crlf ? 2 : 1;
  }
  return {begin, end, next};
}

std::string_view content(std::string_view text, const Line& line) {
  return text.substr(line.begin, line.end - line.begin);
}

std::optional<std::string_view> header_name(std::string_view line) {
  const std::size_t open = line.find_first_not_of(" \t");
  if (open == std::string_view::npos || line[open] != '[') return std::nullopt;
  const std::size_t close = line.rfind(']');
  if (close == std::string_view::npos || close < open) return std::nullopt;
  return trim(line.substr(open + 1, close - open - 1));
}

// An entry line: the key, and where its value starts (after the blanks that follow '=').
struct Entry {
  std::string_view key;
  std::size_t value_begin;
};

std::optional<Entry> entry_of(std::string_view line) {
  const std::size_t first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos || line[first] == ';') return std::nullopt;
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  std::size_t value_begin = equals + 1;
  while (value_begin < line.size() && is_blank(line[value_begin])) ++value_begin;
  return Entry{trim(line.substr(0, equals)), value_begin};
}

// The header line of the first section of that name. Only a '[' at the start of a line
// can open one, so the search jumps from bracket to bracket over the entries.
std::optional<Line> find_section(std::string_view text, std::string_view name,
                                 CharLength char_length) {
  std::size_t pos = text.find('[');
  while (pos != std::string_view::npos) {
    std::size_t begin = pos;
    while (begin > 0 && is_blank(text[begin - 1])) --begin;
    if (begin > 0 && !is_line_break(text[begin - 1])) {
      pos = text.find('[', pos + 1);
      continue;
    }
    const Line line = line_at(text, begin);
    const auto header = header_name(content(text, line));
    if (header && same_name(*header, name, char_length)) return line;
    pos = text.find('[', line.next);
  }
  return std::nullopt;
}

struct SectionScan {
  std::optional<Line> match;  // the line of the key, when present
  std::optional<Entry> entry;
  Line last_entry;  // the section's last entry, or its header when it has none
};

SectionScan scan_section(std::string_view text, const Line& header, std::string_view key,
                         CharLength char_length) {
  SectionScan scan{std::nullopt, std::nullopt, header};
  for (std::size_t pos = header.next; pos < text.size();) {
    const Line line = line_at(text, pos);
    const std::string_view line_text = content(text, line);
    if (header_name(line_text)) break;
    if (const auto entry = entry_of(line_text)) {
      if (same_name(entry->key, key, char_length)) {
        scan.match = line;
        scan.entry = entry;
        return scan;
      }
      scan.last_entry = line;
    }
    pos = line.next;
  }
  return scan;
}

std::string stored_form(std::string_view value) {
  const bool reading_changes_it =
      !value.empty() &&
      (is_blank(value.front()) || is_blank(value.back()) || unquote(value).size() != value.size());
  if (!reading_changes_it) return std::string(value);
  std::string quoted = "\"";
  quoted += value;
  quoted += '"';
  return quoted;
}

}  // namespace

std::string profile_header_line(std::string_view section) {
  std::string line = "[";
  line += section;
  line += "]\r\n";
  return line;
}

std::string profile_entry_line(std::string_view key, std::string_view value) {
  std::string line(key);
  line += '=';
  line += stored_form(value);
  line += "\r\n";
  return line;
}

std::optional<std::string_view> profile_value(std::string_view text, std::string_view section,
                                              std::string_view key, CharLength char_length) {
  const auto header = find_section(text, trim(section), char_length);
  if (!header) return std::nullopt;
  const SectionScan scan = scan_section(text, *header, trim(key), char_length);
  if (!scan.match) return std::nullopt;
  const std::string_view line = content(text, *scan.match);
  return unquote(trim(line.substr(scan.entry->value_begin)));
}

std::string with_profile_value(std::string_view text, std::string_view section,
                               std::string_view key, std::string_view value,
                               CharLength char_length) {
  std::string out;
  out.reserve(text.size() + section.size() + key.size() + value.size() + 16);
  const auto header = find_section(text, trim(section), char_length);
  if (!header) {
    out = text;
    if (!out.empty() && !is_line_break(out.back())) out += "\r\n";
    out += profile_header_line(section);
    out += profile_entry_line(key, value);
    return out;
  }
  const SectionScan scan = scan_section(text, *header, trim(key), char_length);
  if (scan.match) {
    const std::size_t value_begin = scan.match->begin + scan.entry->value_begin;
    out = text.substr(0, value_begin);
    out += stored_form(value);
    out += text.substr(scan.match->end);
    return out;
  }
  const Line& last = scan.last_entry;
  out = text.substr(0, last.next);
  if (last.next == last.end) out += "\r\n";  // the section's last line ended the file
  out += profile_entry_line(key, value);
  out += text.substr(last.next);
  return out;
}

bool has_exact_line(std::string_view text, std::string_view line) {
  for (std::size_t pos = text.find(line); pos != std::string_view::npos;
       pos = text.find(line, pos + 1)) {
    const std::size_t end = pos + line.size();
    const bool starts_line = pos == 0 || is_line_break(text[pos - 1]);
    const bool ends_line = end == text.size() || is_line_break(text[end]);
    if (starts_line && ends_line) return true;
  }
  return false;
}
