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

std::variant<ScheduleMemory, std::string> parse_schedule_memory(std::string_view text) {
  // 9999-12-31T23:59:59Z: far past any run, and well inside the clock's range.
  constexpr long long latest_settled = 253402300799;
  ScheduleMemory memory;
  for (int number = 1; !text.empty(); ++number) {
    const auto end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = trimmed(line.substr(0, equals));
    const std::string_view value = trimmed(line.substr(equals + 1));
    long long seconds = -1;
    if (key == "settled") {
      const auto read = std::from_chars(value.data(), value.data() + value.size(), seconds);
      if (read.ec != std::errc() || read.ptr != value.data() + value.size() || seconds < 0 ||
          seconds > latest_settled) {
        return "line " + std::to_string(number) + ": settled = " + std::string(value) +
               " is no time between 1970 and 9999 in seconds";
      }
      memory.settled = std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
    } else if (key == "paused" && !value.empty()) {
      memory.paused.emplace_back(value);
    }
  }
  return memory;
}
