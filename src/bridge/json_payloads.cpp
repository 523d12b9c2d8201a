#include "bridge/json_payloads.h"

#include <cstdio>

#include "common/board_limits.h"
#include "text/json_text.h"

std::string line_info_json(std::string_view version, const std::vector<std::uint8_t>& addresses,
                           std::string_view device, std::chrono::milliseconds answer_timeout) {
  return json_text({{"version", version},
                    {"addresses", addresses},
                    {"device", device},
                    {"answer_timeout_ms", answer_timeout.count()}});
}

std::string board_state_json(std::uint16_t opened) {
  Json states = Json::object();
  for (int relay = 1; relay <= relay_count; ++relay) {
    states[std::to_string(relay)] = (opened >> (relay - 1)) & 1 ? "ON" : "OFF";
  }
  return json_text(states);
}

std::string utc_text(std::chrono::system_clock::time_point time) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(time);
  const auto day = std::chrono::floor<std::chrono::days>(seconds);
  const std::chrono::year_month_day date(day);
  const std::chrono::hh_mm_ss clock(seconds - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

std::string timetable_json(const Timetable& timetable) {
  Json entries = Json::array();
  for (std::size_t entry = 0; entry < timetable.entries().size(); ++entry) {
    const auto next = timetable.next_run(entry);
    Json when = nullptr;
    if (next != Timetable::Clock::time_point::max()) when = utc_text(next);
    entries.push_back({{"name", timetable.entries()[entry].name},
                       {"next", std::move(when)},
                       {"paused", timetable.paused(entry)}});
  }
  return json_text({{"entries", std::move(entries)}});
}

std::string refusal_json(const std::string& result, std::chrono::system_clock::time_point time) {
  auto json = json_object(result).value_or(Json::object());
  json["time"] = utc_text(time);
  return json_text(json);
}
