#include "event_log/event_text.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string_view>
#include <vector>

#include "common/duration_text.h"
#include "schedule/local_clock.h"
#include "text/shown_text.h"

namespace {

using std::chrono::milliseconds;

const char* state_text(bool on) {
  return on ? "opened" : "closed";
}

// "+02:00": an offset from UTC in seconds, to the minute.
std::string offset_text(long seconds) {
  const int minutes = static_cast<int>((seconds < 0 ? -seconds : seconds) / 60 % (24 * 60));
  char text[32];
  std::snprintf(text, sizeof text, "%c%02d:%02d", seconds < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return text;
}

// The local clock's reading at `seconds` and its offset from UTC in seconds: what the
// reading, taken as universal time, is ahead by (not every C library keeps tm_gmtoff).
bool local_reading(std::time_t seconds, std::tm& parts, long& offset) {
  using namespace std::chrono;
  if (!local_fields(seconds, parts)) return false;
  const year_month_day day{year(parts.tm_year + 1900),
                           month(static_cast<unsigned>(parts.tm_mon + 1)),
                           std::chrono::day(static_cast<unsigned>(parts.tm_mday))};
  const auto shown = sys_days(day) + hours(parts.tm_hour) + minutes(parts.tm_min) +
                     std::chrono::seconds(parts.tm_sec);
  offset = static_cast<long>(
      duration_cast<std::chrono::seconds>(shown - system_clock::from_time_t(seconds)).count());
  return true;
}

// Date and time to the millisecond in local time, with the offset that tells the two
// showings of an hour apart when the clock goes back.
std::string time_text(Event::Time at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(
      std::chrono::floor<std::chrono::seconds>(std::chrono::sys_time<milliseconds>(at)));
  std::tm parts{};
  long offset = 0;
  if (!local_reading(seconds, parts, offset)) parts = {};
  const auto millis = (at.time_since_epoch().count() % 1000 + 1000) % 1000;
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<int>(millis));
  return text + offset_text(offset);
}

// Local midnight of the day `days` before the one `now` falls on.
Event::Time local_midnight(Event::Time now, int days_back) {
  const std::time_t seconds =
      std::chrono::system_clock::to_time_t(std::chrono::time_point_cast<std::chrono::seconds>(now));
  std::tm parts{};
  local_fields(seconds, parts);
  parts.tm_mday -= days_back;
  parts.tm_hour = parts.tm_min = parts.tm_sec = 0;
  parts.tm_isdst = -1;  // whatever the day's offset was
  return std::chrono::time_point_cast<milliseconds>(
      std::chrono::system_clock::from_time_t(std::mktime(&parts)));
}

// Reads `count` digits off the front of `text` into `value`.
bool digits(std::string_view& text, std::size_t count, int& value) {
  if (text.size() < count) return false;
  value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  text.remove_prefix(count);
  return true;
}

bool take(std::string_view& text, std::string_view any_of) {
  if (text.empty() || any_of.find(text.front()) == std::string_view::npos) return false;
  text.remove_prefix(1);
  return true;
}

// A date "2026-12-07", or a date and time "2026-12-07 03:00[:15[.250]]" (or with a T), in
// local time or with its offset from UTC ("Z", "+01:00"); nothing when the text is no
// such time, why not when it names no single moment of local time.
std::optional<std::variant<Event::Time, std::string>> date_time(std::string_view text) {
  const std::string_view written = text;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
  if (!digits(text, 4, year) || !take(text, "-") || !digits(text, 2, month) || !take(text, "-") ||
      !digits(text, 2, day)) {
    return std::nullopt;
  }
  std::optional<int> offset;  // minutes east of UTC, when given
  if (!text.empty()) {
    if (!take(text, " T") || !digits(text, 2, hour) || !take(text, ":") ||
        !digits(text, 2, minute)) {
      return std::nullopt;
    }
    if (take(text, ":") &&
        (!digits(text, 2, second) || (take(text, ".") && !digits(text, 3, millis)))) {
      return std::nullopt;
    }
    if (take(text, "Z")) {
      offset = 0;
    } else if (!text.empty()) {
      const bool west = text.front() == '-';
      int offset_hours = 0, offset_minutes = 0;
      if (!take(text, "+-") || !digits(text, 2, offset_hours) || !take(text, ":") ||
          !digits(text, 2, offset_minutes) || offset_hours > 23 || offset_minutes > 59) {
        return std::nullopt;
      }
      offset = (west ? -1 : 1) * (offset_hours * 60 + offset_minutes);
    }
    if (!text.empty()) return std::nullopt;
  }
  using namespace std::chrono;
  const year_month_day date{std::chrono::year(year), std::chrono::month(unsigned(month)),
                            std::chrono::day(unsigned(day))};
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  const auto clock = hours(hour) + minutes(minute) + seconds(second) + milliseconds(millis);
  if (offset) return Event::Time(sys_days(date) + clock - minutes(*offset));
  // Local time: the moment of each offset the day has that shows these digits. The hour
  // the clock goes back shows twice, the hour it skips never.
  std::vector<Event::Time> moments;
  std::vector<long> offsets;
  const auto local_time = [&](int summer) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = summer;  // -1: whichever the clock shows
    return std::mktime(&parts);
  };
  for (const int summer : {0, 1}) {
    const std::time_t at = local_time(summer);
    std::tm shown{};
    long shown_offset = 0;
    if (at == static_cast<std::time_t>(-1) || !local_reading(at, shown, shown_offset)) continue;
    if (shown.tm_year != year - 1900 || shown.tm_mon != month - 1 || shown.tm_mday != day ||
        shown.tm_hour != hour || shown.tm_min != minute || shown.tm_sec != second) {
      continue;
    }
    const Event::Time moment =
        time_point_cast<milliseconds>(system_clock::from_time_t(at)) + milliseconds(millis);
    if (std::find(moments.begin(), moments.end(), moment) != moments.end()) continue;
    moments.push_back(moment);
    offsets.push_back(shown_offset);
  }
  // A date alone starts at the day's first moment, whatever its clock showed then.
  if (written.size() == 10) {
    if (moments.empty())
      return time_point_cast<milliseconds>(system_clock::from_time_t(local_time(-1)));
    return *std::min_element(moments.begin(), moments.end());
  }
  const std::string quoted = '"' + std::string(written) + '"';
  if (moments.empty()) return quoted + " is no time of the local clock, which skips it";
  if (moments.size() > 1) {
    std::string local(written);
    local[10] = 'T';
    // The earlier showing first.
    const std::size_t first = moments[0] < moments[1] ? 0 : 1;
    return quoted + " is shown twice by the local clock: give its offset from UTC (" + local +
           offset_text(offsets[first]) + " or " + local + offset_text(offsets[1 - first]) + ")";
  }
  return moments.front();
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
      "(2026-12-07 03:00, 2026-10-25T02:30:00.000+02:00) or a span back from now (90m, 2h, 3d)";
  if (text == "today") return local_midnight(now, 0);
  if (text == "yesterday") return local_midnight(now, 1);
  if (auto at = date_time(text)) {
    if (const auto* why = std::get_if<std::string>(&*at)) return "--since: " + *why;
    return std::get<Event::Time>(*at);
  }
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
