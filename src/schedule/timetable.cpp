#include "schedule/timetable.h"

#include <algorithm>
#include <utility>

#include "schedule/local_clock.h"

namespace {

using Clock = Timetable::Clock;

// Runs lie a day apart or more, a week at most.
constexpr int week = 7;

// The entry's run on `day`, nothing when it does not run that weekday.
std::optional<Clock::time_point> run_on(const TimetableEntry& entry, std::chrono::sys_days day) {
  const unsigned weekday = std::chrono::weekday(day).iso_encoding();  // Monday 1
  if ((entry.days & (1u << (weekday - 1))) == 0) return std::nullopt;
  return local_instant(std::chrono::year_month_day(day), entry.hour, entry.minute);
}

}  // namespace

Clock::time_point run_after(const TimetableEntry& entry, Clock::time_point after) {
  const std::chrono::sys_days today = local_day(after);
  // From the day before: a skipped minute late in it may come to a time of today.
  for (int offset = -1; offset <= week + 1; ++offset) {
    const auto run = run_on(entry, today + std::chrono::days(offset));
    if (run && *run > after) return *run;
  }
  return Clock::time_point::max();
}

std::optional<Clock::time_point> last_run(const TimetableEntry& entry, Clock::time_point until) {
  const std::chrono::sys_days today = local_day(until);
  for (int offset = 0; offset <= week + 1; ++offset) {
    const auto run = run_on(entry, today - std::chrono::days(offset));
    if (run && *run <= until) return run;
  }
  return std::nullopt;
}

Timetable::Timetable(std::vector<TimetableEntry> entries, Clock::time_point since)
    : entries_(std::move(entries)), settled_(since) {
  for (const auto& entry : entries_) slots_.push_back({run_after(entry, since)});
}

std::vector<std::size_t> Timetable::due(Clock::time_point now) {
  std::vector<std::pair<Clock::time_point, std::size_t>> runs;
  for (std::size_t index = 0; index < entries_.size(); ++index) {
    const TimetableEntry& entry = entries_[index];
    Slot& slot = slots_[index];
    // A clock set back by more than a week would otherwise hold every run until it
    // comes round again.
    if (slot.next != Clock::time_point::max() && slot.next - now > std::chrono::days(week + 1)) {
      slot.next = run_after(entry, now);
    }
    if (slot.next > now) continue;
    settled_ = now;
    const bool on_time = now - slot.next <= grace;
    if (!slot.paused && (on_time || entry.catch_up)) {
      // Of several missed runs the last one decides where it stands among the others.
      runs.emplace_back(last_run(entry, now).value_or(slot.next), index);
    }
    slot.next = run_after(entry, now);
  }
  std::stable_sort(runs.begin(), runs.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::size_t> indices;
  for (const auto& run : runs) indices.push_back(run.second);
  return indices;
}

std::optional<Clock::time_point> Timetable::next_due() const {
  std::optional<Clock::time_point> earliest;
  for (const auto& slot : slots_) {
    if (slot.next != Clock::time_point::max() && (!earliest || slot.next < *earliest)) {
      earliest = slot.next;
    }
  }
  return earliest;
}

bool Timetable::set_paused(std::string_view name, bool paused) {
  for (std::size_t index = 0; index < entries_.size(); ++index) {
    if (entries_[index].name == name) {
      slots_[index].paused = paused;
      return true;
    }
  }
  return false;
}
