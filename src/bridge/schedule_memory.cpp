#include "bridge/schedule_memory.h"

#include <charconv>

#include "settings/settings_text.h"

std::string schedule_memory_file_name(std::string_view line) {
  return "schedule-" + std::string(line) + ".txt";
}

std::string schedule_memory_text(const ScheduleMemory& memory) {
  std::string text = "# relayboard-mqtt's timetable: rewritten as it runs\n";
  if (memory.settled) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(*memory.settled);
    text += "settled = " + std::to_string(seconds.time_since_epoch().count()) + '\n';
  }
  for (const std::string& name : memory.paused) text += "paused = " + name + '\n';
  return text;
}

std::variant<ScheduleMemory, std::string> parse_schedule_memory(std::string_view text,
                                                                std::string_view file_name) {
  // 9999-12-31T23:59:59Z: far past any run, and well inside the clock's range.
  constexpr long long latest_settled = 253402300799;
  // The program writes this file: an entry's name is taken whole, '#' and all.
  auto read = settings_lines(
      text, file_name,
      {.trailing_comments = false, .skip_other_lines = true, .repeatable = {"paused"}});
  if (auto* why = std::get_if<std::string>(&read)) return std::move(*why);
  ScheduleMemory memory;
  for (const auto& [number, section, key, value] : std::get<std::vector<SettingsLine>>(read)) {
    long long seconds = -1;
    if (key == "settled") {
      const auto parsed = std::from_chars(value.data(), value.data() + value.size(), seconds);
      if (parsed.ec != std::errc() || parsed.ptr != value.data() + value.size() || seconds < 0 ||
          seconds > latest_settled) {
        return settings_where(file_name, number) + "settled = " + std::string(value) +
               " is no time between 1970 and 9999 in seconds";
      }
      memory.settled = std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
    } else if (key == "paused" && !value.empty()) {
      memory.paused.emplace_back(value);
    }
  }
  return memory;
}
