#include "event_log/event_text.h"

#include <cstdio>
#include <ctime>
#include <optional>
#include <string_view>

#include "common/duration_text.h"
#include "text/shown_text.h"

namespace {

using std::chrono::milliseconds;

const char* state_text(bool on) {
  return on ? "opened" : "closed";
}

// Date and time to the millisecond in local time.
std::string time_text(Event::Time at) {
  const std::time_t seconds =
      std::chrono::system_clock::to_time_t(std::chrono::time_point_cast<std::chrono::seconds>(at));
  std::tm parts{};
  localtime_r(&seconds, &parts);
  const auto millis = (at.time_since_epoch().count() % 1000 + 1000) % 1000;
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<int>(millis));
  return text;
}

// Local midnight of the day `days` before the one `now` falls on.
Event::Time local_midnight(Event::Time now, int days_back) {
  const std::time_t seconds =
      std::chrono::system_clock::to_time_t(std::chrono::time_point_cast<std::chrono::seconds>(now));
  std::tm parts{};
  localtime_r(&seconds, &parts);
  parts.tm_mday -= days_back;
  parts.tm_hour = parts.tm_min = parts.tm_sec = 0;
  parts.tm_isdst = -1;  // whatever the day's offset was
  return std::chrono::time_point_cast<milliseconds>(
      std::chrono::system_clock::from_time_t(std::mktime(&parts)));
}

std::optional<Event::Time> local_date_time(std::string_view text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char separator = ' ';
  int used = 0;
  const std::string copy(text);
  const int fields = std::sscanf(copy.c_str(), "%4d-%2d-%2d%n%c%2d:%2d%n:%2d%n", &year, &month,
                                 &day, &used, &separator, &hour, &minute, &used, &second, &used);
  if (fields < 3 || static_cast<std::size_t>(used) != copy.size()) return std::nullopt;
  if (fields > 3 && (fields < 6 || (separator != ' ' && separator != 'T'))) return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return std::nullopt;
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&parts);
  if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
  return std::chrono::time_point_cast<milliseconds>(
      std::chrono::system_clock::from_time_t(seconds));
}

}  // namespace

std::string event_line(const Event& event) {
  // Appended piece by piece: GCC 12 at -O3 misreads "literal" + std::string&& (-Wrestrict).
  std::string line = time_text(event.at);
  const auto add = [&line](std::string_view before, const std::string& text) {
    line += before;
    line += text;
  };
  add(" ", shown_text(event.line));
  add(" board ", std::to_string(event.address));
  if (event.relay != 0) add(" relay ", std::to_string(event.relay));
  switch (event.kind) {
    case Event::Kind::switched:
      if (event.relay == 0) line += " all";
      add(" ", event.now_on ? state_text(*event.now_on) : "switched");
      if (event.was_on) add(" (was ", std::string(state_text(*event.was_on)) + ")");
      break;
    case Event::Kind::board_lost:
      line += " lost";
      break;
    case Event::Kind::board_back:
      line += " back";
      break;
    case Event::Kind::refused:
      add(" refused: ", shown_text(event.reason));
      break;
    case Event::Kind::missed:
      add(" missed: ", shown_text(event.reason));
      break;
  }
  const bool not_done = event.kind == Event::Kind::refused || event.kind == Event::Kind::missed;
  add(not_done ? " from " : " by ", shown_text(event.source));
  if (!event.who.empty()) add(" ", shown_text(event.who));
  if (!not_done && !event.reason.empty()) {
    add(" (", shown_text(event.reason));
    line += ')';
  }
  return line;
}

std::variant<Event::Time, std::string> parse_since(std::string_view text, Event::Time now) {
  const std::string form =
      "--since takes today, yesterday, a date (2026-12-07), a date and time "
      "(2026-12-07 03:00) or a span back from now (90m, 2h, 3d)";
  if (text == "today") return local_midnight(now, 0);
  if (text == "yesterday") return local_midnight(now, 1);
  if (const auto at = local_date_time(text)) return *at;
  if (text.size() > 1 && text.back() == 'd') {
    int days = 0;
    for (const char c : text.substr(0, text.size() - 1)) {
      if (c < '0' || c > '9' || days > 36500) return form;
      days = days * 10 + (c - '0');
    }
    return now - std::chrono::hours(24 * days);
  }
  if (const auto span = parse_duration(text)) return now - *span;
  return form;
}
