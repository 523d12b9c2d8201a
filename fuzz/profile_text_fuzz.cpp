// The profile text editor on any text: a value set with with_profile_value reads back
// exactly, setting it again changes nothing, and every other line of the text stays
// byte for byte and in order.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "invariant.h"
#include "names/profile_text.h"

namespace {

struct Line {
  std::string_view content;
  std::string_view ending;  // "\r\n", "\r", "\n", or "" for a last line without one

  bool operator==(const Line&) const = default;
};

// Split here rather than with the parser's own line reader, which is under test.
std::vector<Line> lines_of(std::string_view text) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
    std::size_t next = end;
    if (next < text.size()) next += text.substr(next, 2) == "\r\n" ? 2 : 1;
    lines.push_back({text.substr(pos, end - pos), text.substr(end, next - end)});
    pos = next;
  }
  return lines;
}

std::string without_line_breaks(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != '\r' && c != '\n') out += c;
  }
  return out;
}

// The program's keys are "relayNname" and "The name". A key holding '=', or starting
// with ';' or '[', would write a line that reads as another key, a comment or a header:
// those are no keys it could ever write, so they are made harmless here.
std::string as_key(std::string_view text) {
  std::string key = without_line_breaks(text);
  for (char& c : key) {
    if (c == '=') c = '-';
  }
  const std::size_t first = key.find_first_not_of(" \t");
  if (first != std::string::npos && (key[first] == ';' || key[first] == '[')) key[first] = '_';
  return key;
}

// Old line `before` is kept as `after`: byte for byte, except that the file's last
// line may gain the CR LF that a line added after it needs.
bool kept(const Line& before, const Line& after, bool last) {
  if (before == after) return true;
  return last && before.ending.empty() && before.content == after.content && after.ending == "\r\n";
}

void check_other_lines_kept(std::string_view old_text, std::string_view new_text, bool replaced,
                            std::string_view detail) {
  const std::vector<Line> old_lines = lines_of(old_text);
  const std::vector<Line> new_lines = lines_of(new_text);
  const std::size_t n = old_lines.size();
  if (replaced) {
    require(new_lines.size() == n, "a replaced value adds no line", detail);
    std::size_t changed = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (old_lines[i] == new_lines[i]) continue;
      ++changed;
      const std::string_view old_content = old_lines[i].content;
      const std::string_view key_part = old_content.substr(0, old_content.find('=') + 1);
      require(
          new_lines[i].content.starts_with(key_part) && new_lines[i].ending == old_lines[i].ending,
          "a replaced value keeps its key's spelling and its line ending", detail);
    }
    require(changed <= 1, "a replaced value changes one line only", detail);
    return;
  }
  require(new_lines.size() == n + 1 || new_lines.size() == n + 2,
          "an added value adds one line, or two with its section", detail);
  const std::size_t added = new_lines.size() - n;
  std::size_t at = 0;  // where the new lines start
  while (at < n && kept(old_lines[at], new_lines[at], at + 1 == n)) ++at;
  for (std::size_t i = at; i < n; ++i) {
    require(old_lines[i] == new_lines[i + added], "the lines after an added one stay", detail);
  }
  for (std::size_t i = at; i < at + added; ++i) {
    require(new_lines[i].ending == "\r\n", "an added line ends with CR LF", detail);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::string section = without_line_breaks(input.text(input.byte() % 24));
  const std::string key = as_key(input.text(input.byte() % 24));
  const std::string value = without_line_breaks(input.text(input.word() % 320));
  const std::string_view text = input.rest();
  const std::string detail =
      "[" + section + "] <" + key + "> = <" + value + "> in " + hex_dump(text.substr(0, 200), 200);

  const auto old_value = profile_value(text, section, key);
  const std::string new_text = with_profile_value(text, section, key, value);

  const auto read_back = profile_value(new_text, section, key);
  require(read_back.has_value() && *read_back == value, "a written value reads back exactly",
          detail + "\nread back <" + std::string(read_back.value_or("(nothing)")) + ">");
  require(with_profile_value(new_text, section, key, value) == new_text,
          "writing the same value again changes nothing", detail);
  check_other_lines_kept(text, new_text, old_value.has_value(), detail);
  return 0;
}
