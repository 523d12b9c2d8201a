#include "bridge/schedule_memory.h"

#include <charconv>

#include "common/trimmed.h"

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

ScheduleMemory parse_schedule_memory(std::string_view text) {
  ScheduleMemory memory;
  while (!text.empty()) {
    const auto end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = trimmed(line.substr(0, equals));
    const std::string_view value = trimmed(line.substr(equals + 1));
    long long seconds = 0;
    if (key == "settled" &&
        std::from_chars(value.data(), value.data() + value.size(), seconds).ptr ==
            value.data() + value.size()) {
      memory.settled = std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
    } else if (key == "paused" && !value.empty()) {
      memory.paused.emplace_back(value);
    }
  }
  return memory;
}
