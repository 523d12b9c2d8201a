#include "schedule_command.h"

#include <cstdio>
#include <ctime>

#include "bridge_options.h"
#include "ctl_output.h"
#include "exit_code.h"
#include "schedule/local_clock.h"
#include "schedule/timetable.h"
#include "text/json_text.h"
#include "text/shown_text.h"

namespace {

using Clock = std::chrono::system_clock;

// "2026-12-09T05:30:00Z", as the bridge writes it.
std::optional<Clock::time_point> utc_time(std::string_view text) {
  int year = 0;
  unsigned month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
  char zone = 0;
  const std::string copy(text);
  if (std::sscanf(copy.c_str(), "%4d-%2u-%2uT%2d:%2d:%2d%c", &year, &month, &day, &hour, &minute,
                  &second, &zone) != 7 ||
      zone != 'Z') {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(month),
                                         std::chrono::day(day)};
  if (!date.ok()) return std::nullopt;
  return std::chrono::sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
         std::chrono::seconds(second);
}

std::string local_minute(Clock::time_point at) {
  std::tm parts{};
  if (!local_fields(Clock::to_time_t(at), parts)) return "?";
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min);
  return text;
}

std::string utc_text(Clock::time_point at) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(at);
  const auto day = std::chrono::floor<std::chrono::days>(seconds);
  const std::chrono::year_month_day date(day);
  const std::chrono::hh_mm_ss time(seconds - day);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

}  // namespace

std::optional<std::vector<ScheduleRun>> published_runs(std::string_view payload) {
  const auto timetable = json_object(payload);
  if (!timetable) return std::nullopt;
  const auto entries = timetable->find("entries");
  if (entries == timetable->end() || !entries->is_array()) return std::nullopt;
  std::vector<ScheduleRun> runs;
  for (const Json& entry : *entries) {
    if (!entry.is_object()) return std::nullopt;
    ScheduleRun run;
    run.name = json_text_field(entry, "name").value_or("");
    if (const auto next = json_text_field(entry, "next")) {
      run.next = utc_time(*next);
      if (!run.next) return std::nullopt;
    }
    const auto paused = entry.find("paused");
    run.paused = paused != entry.end() && *paused == true;
    runs.push_back(std::move(run));
  }
  return runs;
}

std::variant<std::vector<ScheduleRun>, std::string> configured_runs(
    const std::filesystem::path& path, Clock::time_point now) {
  auto entries = read_config_timetable(path);
  if (auto* why = std::get_if<std::string>(&entries)) return std::move(*why);
  const Timetable timetable(std::get<std::vector<TimetableEntry>>(std::move(entries)), now);
  std::vector<ScheduleRun> runs;
  for (std::size_t entry = 0; entry < timetable.entries().size(); ++entry) {
    const auto next = timetable.next_run(entry);
    runs.push_back({timetable.entries()[entry].name,
                    next == Clock::time_point::max() ? std::nullopt : std::optional(next),
                    std::nullopt});
  }
  return runs;
}

void print_runs(const std::vector<ScheduleRun>& runs, bool json, std::ostream& out) {
  for (const ScheduleRun& run : runs) {
    if (json) {
      const Json next = run.next ? Json(utc_text(*run.next)) : Json(nullptr);
      const Json paused = run.paused ? Json(*run.paused) : Json(nullptr);
      out << json_text({{"name", run.name}, {"next", next}, {"paused", paused}}) << '\n';
      continue;
    }
    out << (run.next ? local_minute(*run.next) : "never") << ' ' << shown_text(run.name)
        << (run.paused.value_or(false) ? " (paused)" : "") << '\n';
  }
}

int run_configured_schedule(const CtlOptions& options, std::ostream& out, std::ostream& err) {
  auto runs = configured_runs(options.arguments.at(0), Clock::now());
  if (const auto* why = std::get_if<std::string>(&runs)) {
    err << error_line(*why, exit_status(ExitCode::Usage), options.json);
    return exit_status(ExitCode::Usage);
  }
  print_runs(std::get<std::vector<ScheduleRun>>(runs), options.json, out);
  return exit_status(ExitCode::Done);
}
