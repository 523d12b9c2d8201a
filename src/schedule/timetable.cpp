#include "schedule/timetable.h"

#include <algorithm>
#include <utility>

#include "schedule/local_clock.h"

namespace {

using Clock = Timetable::Clock;

// Runs lie a day apart or more, a week at most.
constexpr int week = 7;
// Runs missed over more than a year are counted over the last one.
constexpr auto counted = std::chrono::days(366);

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

Timetable::Timetable(std::vector<TimetableEntry> entries, Clock::time_point since)
    : Timetable(std::move(entries), {since, since}, {}) {}

Timetable::Timetable(std::vector<TimetableEntry> entries, Span settled, std::vector<Span> others)
    : entries_(std::move(entries)),
      from_(settled.from),
      settled_(settled.to),
      looked_(settled.to),
      others_(std::move(others)) {
  for (const auto& entry : entries_) slots_.push_back({next_owed(entry, looked_)});
}

Timetable::Due Timetable::due(Clock::time_point now, Clock::duration lived) {
  // The host's two clocks and its timer do not agree to the millisecond.
  constexpr auto leeway = std::chrono::seconds(2);
  const Clock::duration on_time = std::min<Clock::duration>(lived + leeway, grace);
  const bool set_back = now < looked_;
  const bool jumped = !set_back && now - looked_ > lived + leeway;
  const Missed::Why why = !looked_before_ ? Missed::Why::not_running
                          : jumped        ? Missed::Why::clock_jumped
                                          : Missed::Why::late;
  Clock::time_point after = looked_;
  if (set_back || jumped) {
    // The clock left the stretch it was in, and came down somewhere since the last look.
    // Only what it lived through is settled: a run jumped over is missed now, and made
    // should the clock be set back to it.
    if (from_ != looked_) others_.push_back({from_, looked_});
    from_ = settled_ = looked_ = now - on_time;
    if (set_back) after = from_;
  }
  after = std::max(after, now - counted);
  Due due;
  std::vector<std::pair<Clock::time_point, std::size_t>> runs;
  bool settled_one = false;
  const std::vector<Span> others_before = others_;
  for (std::size_t index = 0; index < entries_.size(); ++index) {
    // Its next run is the first one owed: none before it is.
    if (!set_back && slots_[index].next > now) continue;
    const TimetableEntry& entry = entries_[index];
    Missed missed;
    missed.entry = index;
    missed.why = slots_[index].paused ? Missed::Why::paused : why;
    std::optional<Clock::time_point> made;
    for (auto run = run_after(entry, after); run <= now; run = run_after(entry, run)) {
      if (is_settled(run)) continue;
      settled_one = true;
      if (now - run <= on_time && !slots_[index].paused) {
        made = run;
        continue;
      }
      if (missed.runs++ == 0) missed.first = run;
      // Of several missed runs the last one decides where it stands among the others.
      missed.caught_up = entry.catch_up && !slots_[index].paused;
      if (missed.caught_up) made = run;
    }
    if (missed.runs > 0) due.missed.push_back(missed);
    if (made) runs.emplace_back(*made, index);
  }
  std::stable_sort(runs.begin(), runs.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& run : runs) due.run.push_back(run.second);
  looked_ = now;
  looked_before_ = true;
  if (settled_one) settled_ = now;
  tidy(now);
  for (std::size_t index = 0; index < entries_.size(); ++index) {
    if (set_back || jumped || others_ != others_before || slots_[index].next <= now) {
      slots_[index].next = next_owed(entries_[index], now);
    }
  }
  return due;
}

bool Timetable::is_settled(Clock::time_point run) const {
  return (run >= from_ && run <= looked_) ||
         std::any_of(others_.begin(), others_.end(),
                     [run](const Span& span) { return run >= span.from && run <= span.to; });
}

Clock::time_point Timetable::next_owed(const TimetableEntry& entry, Clock::time_point after) const {
  Clock::time_point run = run_after(entry, after);
  // Each step leaves a span behind for good: as many steps as spans at most.
  for (std::size_t step = 0; step <= others_.size() && run != Clock::time_point::max(); ++step) {
    const auto in = std::find_if(others_.begin(), others_.end(), [run](const Span& span) {
      return run >= span.from && run <= span.to;
    });
    if (in == others_.end()) break;
    run = run_after(entry, in->to);
  }
  return run;
}

void Timetable::tidy(Clock::time_point now) {
  std::vector<Span> kept;
  for (const Span& span : others_) {
    if (span.to < now - remembered || span.from > now + remembered) continue;
    if (span.to >= from_ && span.to <= looked_) {
      // The clock has come through to its end: one stretch with the one it is in.
      from_ = std::min(from_, span.from);
      settled_ = std::max(settled_, span.to);
      continue;
    }
    kept.push_back(span);
  }
  std::sort(kept.begin(), kept.end(), [](const Span& a, const Span& b) { return a.from < b.from; });
  others_.clear();
  for (const Span& span : kept) {
    if (!others_.empty() && span.from <= others_.back().to) {
      others_.back().to = std::max(others_.back().to, span.to);
    } else {
      others_.push_back(span);
    }
  }
  // A clock that keeps being set back: the spans furthest from it go first.
  const auto distance = [now](const Span& span) {
    return span.from > now ? span.from - now : now - span.to;
  };
  while (others_.size() > most_spans) {
    others_.erase(
        std::max_element(others_.begin(), others_.end(),
                         [&](const Span& a, const Span& b) { return distance(a) < distance(b); }));
  }
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
