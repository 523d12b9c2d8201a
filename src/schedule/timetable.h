#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "schedule/timetable_entry.h"

// The entries of a timetable and when each runs next, on the wall clock given to it (the
// host's system clock, a test's simulated one) in the machine's time zone. Each run
// happens once: a minute shown twice when daylight saving ends runs at its first showing,
// a minute skipped when it starts runs at the first minute after it. A run that the
// host calls for more than `grace` late (it was down, the machine slept, the clock
// jumped) is let go, or done once however many were missed when its entry says
// "catch up". A paused entry lets its runs go.
class Timetable {
 public:
  using Clock = std::chrono::system_clock;
  // How late a run still counts as on time: the host's loop is not exact to the second.
  static constexpr std::chrono::seconds grace{60};

  // Runs after `since` count as owed: a host that knows when it last ran its timetable
  // passes that, so that a "catch up" entry missed meanwhile runs at the first due().
  Timetable(std::vector<TimetableEntry> entries, Clock::time_point since);

  // The entries to run now (indices into entries()), ordered by the time they were due,
  // so that the latest word on a relay comes last.
  std::vector<std::size_t> due(Clock::time_point now);
  // When due() has something to do next: the earliest next run.
  std::optional<Clock::time_point> next_due() const;
  // Every run up to this time has been done, let go or skipped while paused: what a host
  // that starts again passes as `since`.
  Clock::time_point settled() const { return settled_; }
  Clock::time_point next_run(std::size_t entry) const { return slots_[entry].next; }

  // Pauses or resumes the entry of that name; false when there is none.
  bool set_paused(std::string_view name, bool paused);
  bool paused(std::size_t entry) const { return slots_[entry].paused; }
  const std::vector<TimetableEntry>& entries() const { return entries_; }

 private:
  struct Slot {
    Clock::time_point next;
    bool paused = false;
  };
  std::vector<TimetableEntry> entries_;
  std::vector<Slot> slots_;
  Clock::time_point settled_;
};

// The entry's first run after `after`; time_point::max() when it has no day to run on.
Timetable::Clock::time_point run_after(const TimetableEntry& entry,
                                       Timetable::Clock::time_point after);
// Its last run at or before `until`, within the week before.
std::optional<Timetable::Clock::time_point> last_run(const TimetableEntry& entry,
                                                     Timetable::Clock::time_point until);
