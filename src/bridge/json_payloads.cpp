#include "bridge/json_payloads.h"

#include <cstdio>

#include "common/board_limits.h"
#include "text/shown_text.h"

std::string line_info_json(std::string_view version, const std::vector<std::uint8_t>& addresses,
                           std::string_view device, std::chrono::milliseconds answer_timeout) {
  std::string list;
  for (const std::uint8_t address : addresses) {
    if (!list.empty()) list += ',';
    list += std::to_string(address);
  }
  return "{\"version\":" + json_string(version) + ",\"addresses\":[" + list +
         "],\"device\":" + json_string(device) +
         ",\"answer_timeout_ms\":" + std::to_string(answer_timeout.count()) + '}';
}

std::string board_state_json(std::uint16_t opened) {
  std::string json = "{";
  for (int relay = 1; relay <= relay_count; ++relay) {
    json += (relay == 1 ? "\"" : ",\"") + std::to_string(relay) +
            "\":" + ((opened >> (relay - 1)) & 1 ? "\"ON\"" : "\"OFF\"");
  }
  return json + '}';
}

std::string timetable_json(const Timetable& timetable) {
  std::string json = "{\"entries\":[";
  for (std::size_t entry = 0; entry < timetable.entries().size(); ++entry) {
    const auto next = timetable.next_run(entry);
    std::string when = "null";
    if (next != Timetable::Clock::time_point::max()) {
      const auto seconds = std::chrono::floor<std::chrono::seconds>(next);
      const auto day = std::chrono::floor<std::chrono::days>(seconds);
      const std::chrono::year_month_day date(day);
      const std::chrono::hh_mm_ss time(seconds - day);
      char text[32];
      std::snprintf(text, sizeof text, "\"%04d-%02u-%02uT%02d:%02d:%02dZ\"",
                    static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                    static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                    static_cast<int>(time.minutes().count()),
                    static_cast<int>(time.seconds().count()));
      when = text;
    }
    json += std::string(entry ? "," : "") +
            "{\"name\":" + json_string(timetable.entries()[entry].name) + ",\"next\":" + when +
            ",\"paused\":" + (timetable.paused(entry) ? "true" : "false") + '}';
  }
  return json + "]}";
}
