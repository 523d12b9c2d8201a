#include "bridge/schedule_memory.h"

#include <charconv>

#include "settings/settings_text.h"

namespace {

using Clock = std::chrono::system_clock;

std::string seconds_text(Clock::time_point at) {
  return std::to_string(std::chrono::floor<std::chrono::seconds>(at).time_since_epoch().count());
}

// Seconds since 1970 up to 9999-12-31T23:59:59Z: far past any run, and well inside the
// clock's range.
std::optional<Clock::time_point> read_seconds(std::string_view text) {
  constexpr long long latest = 253402300799;
  long long seconds = -1;
  const auto parsed = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (parsed.ec != std::errc() || parsed.ptr != text.data() + text.size() || seconds < 0 ||
      seconds > latest) {
    return std::nullopt;
  }
  return Clock::time_point(std::chrono::seconds(seconds));
}

// "FROM-TO FROM-TO ...", each span in order.
std::optional<std::vector<Timetable::Span>> read_spans(std::string_view text) {
  std::vector<Timetable::Span> spans;
  while (!text.empty()) {
    const auto blank = std::min(text.find(' '), text.size());
    const std::string_view span = text.substr(0, blank);
    text.remove_prefix(std::min(blank + 1, text.size()));
    if (span.empty()) continue;
    const auto dash = span.find('-');
    const auto from = dash == span.npos ? std::nullopt : read_seconds(span.substr(0, dash));
    const auto to = dash == span.npos ? std::nullopt : read_seconds(span.substr(dash + 1));
    if (!from || !to || *to < *from || spans.size() == Timetable::most_spans) return std::nullopt;
    spans.push_back({*from, *to});
  }
  return spans;
}

}  // namespace

std::string schedule_memory_file_name(std::string_view line) {
  return "schedule-" + std::string(line) + ".txt";
}

std::string schedule_memory_text(const ScheduleMemory& memory) {
  std::string text = "# relayboard-mqtt's timetable: rewritten as it runs\n";
  if (memory.settled) text += "settled = " + seconds_text(*memory.settled) + '\n';
  if (memory.settled && memory.settled_from) {
    text += "settled-from = " + seconds_text(*memory.settled_from) + '\n';
  }
  // On one line: an older version takes a key given twice for a fault.
  if (!memory.spans.empty()) {
    text += "settled-spans =";
    for (const auto& span : memory.spans) {
      text += ' ' + seconds_text(span.from) + '-' + seconds_text(span.to);
    }
    text += '\n';
  }
  for (const std::string& name : memory.paused) text += "paused = " + name + '\n';
  return text;
}

std::variant<ScheduleMemory, std::string> parse_schedule_memory(std::string_view text,
                                                                std::string_view file_name) {
  // The program writes this file: an entry's name is taken whole, '#' and all.
  auto read = settings_lines(
      text, file_name,
      {.trailing_comments = false, .skip_other_lines = true, .repeatable = {"paused"}});
  if (auto* why = std::get_if<std::string>(&read)) return std::move(*why);
  ScheduleMemory memory;
  int from_line = 0;
  for (const auto& [number, section, key, value] : std::get<std::vector<SettingsLine>>(read)) {
    const auto fault = [&, number = number, key = key, value = value](const std::string& why) {
      return settings_where(file_name, number) + std::string(key) + " = " + std::string(value) +
             why;
    };
    if (key == "settled" || key == "settled-from") {
      const auto at = read_seconds(value);
      if (!at) return fault(" is no time between 1970 and 9999 in seconds");
      (key == "settled" ? memory.settled : memory.settled_from) = at;
      if (key == "settled-from") from_line = number;
    } else if (key == "settled-spans") {
      auto spans = read_spans(value);
      if (!spans) {
        return fault(" are not up to " + std::to_string(Timetable::most_spans) +
                     " spans FROM-TO, each ending no earlier than it starts, in seconds "
                     "between 1970 and 9999");
      }
      memory.spans = std::move(*spans);
    } else if (key == "paused" && !value.empty()) {
      memory.paused.emplace_back(value);
    }
  }
  if (memory.settled_from && (!memory.settled || *memory.settled_from > *memory.settled)) {
    return settings_where(file_name, from_line) +
           "settled-from = " + seconds_text(*memory.settled_from) +
           " is not at or before a settled time";
  }
  return memory;
}
