#include "schedule/local_clock.h"

#include <cstdio>
#include <optional>

namespace {

using std::chrono::system_clock;

// The instant at which the local clock shows exactly this minute of this day, the
// earlier one when it shows it twice; nothing when it skips it. Both readings of the
// daylight-saving flag are tried and kept only when the clock reads back the same minute.
std::optional<std::time_t> exact_instant(std::chrono::year_month_day day, int hour, int minute) {
  std::optional<std::time_t> found;
  for (const int dst : {0, 1}) {
    std::tm fields{};
    fields.tm_year = static_cast<int>(day.year()) - 1900;
    fields.tm_mon = static_cast<int>(static_cast<unsigned>(day.month())) - 1;
    fields.tm_mday = static_cast<int>(static_cast<unsigned>(day.day()));
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_isdst = dst;
    const std::time_t time = std::mktime(&fields);
    std::tm back{};
    if (time == static_cast<std::time_t>(-1) || !local_fields(time, back)) continue;
    if (back.tm_year != static_cast<int>(day.year()) - 1900 ||
        back.tm_mon != static_cast<int>(static_cast<unsigned>(day.month())) - 1 ||
        back.tm_mday != static_cast<int>(static_cast<unsigned>(day.day())) ||
        back.tm_hour != hour || back.tm_min != minute) {
      continue;
    }
    if (!found || time < *found) found = time;
  }
  return found;
}

}  // namespace

std::chrono::year_month_day local_day(system_clock::time_point when) {
  std::tm fields{};
  if (!local_fields(system_clock::to_time_t(when), fields)) {
    return std::chrono::year_month_day(std::chrono::floor<std::chrono::days>(when));
  }
  return std::chrono::year_month_day(std::chrono::year(fields.tm_year + 1900),
                                     std::chrono::month(static_cast<unsigned>(fields.tm_mon + 1)),
                                     std::chrono::day(static_cast<unsigned>(fields.tm_mday)));
}

system_clock::time_point local_instant(std::chrono::year_month_day day, int hour, int minute) {
  const std::chrono::sys_days first = day;
  // A skipped stretch lasts an hour or two; a whole day bounds the search.
  for (int later = 0; later <= 24 * 60; ++later) {
    const int total = hour * 60 + minute + later;
    const std::chrono::year_month_day shown = first + std::chrono::days(total / (24 * 60));
    if (const auto time = exact_instant(shown, total / 60 % 24, total % 60)) {
      return system_clock::from_time_t(*time);
    }
  }
  // No zone skips a whole day's minutes; read the minute as universal time.
  return first + std::chrono::hours(hour) + std::chrono::minutes(minute);
}

std::string local_minute_text(system_clock::time_point when) {
  using namespace std::chrono;
  const auto second = floor<seconds>(when);
  std::tm fields{};
  if (!local_fields(system_clock::to_time_t(second), fields)) fields = {};
  // The offset is what the local reading, taken as universal time, is ahead by.
  const year_month_day day{year(fields.tm_year + 1900),
                           month(static_cast<unsigned>(fields.tm_mon + 1)),
                           std::chrono::day(static_cast<unsigned>(fields.tm_mday))};
  const auto shown =
      sys_days(day) + hours(fields.tm_hour) + minutes(fields.tm_min) + seconds(fields.tm_sec);
  const auto offset = duration_cast<minutes>(shown - second).count();
  const long ahead = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d %c%02ld:%02ld", fields.tm_year + 1900,
                fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min,
                offset < 0 ? '-' : '+', ahead / 60, ahead % 60);
  return text;
}
