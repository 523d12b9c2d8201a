#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "schedule/timetable_entry.h"

// The entries of a timetable and when each runs next, on the wall clock given to it (the
// host's system clock, a test's simulated one) in the machine's time zone. Each run (an
// entry at an instant) is settled once, whatever the clock does: made, or recorded as
// missed. A minute shown twice when daylight saving ends runs at its first showing, a
// minute skipped when it starts runs at the first minute after it. A run due before the
// stretch the host lived through since its last look (it was down, the machine slept,
// the clock jumped ahead) or more than `grace` late is missed, or done once however many
// were missed when its entry says "catch up". A paused entry's runs are missed. The
// stretches of wall time that the host lived through are kept, so that a clock set back
// makes the runs it had not made and none twice.
class Timetable {
 public:
  using Clock = std::chrono::system_clock;
  // How late a run still counts as on time: the host's loop is not exact to the second.
  static constexpr std::chrono::seconds grace{60};
  // A settled stretch further than this from the clock is forgotten: a clock set back
  // by more may make a run again, one set forward by mistake holds no run for long.
  static constexpr std::chrono::days remembered{31};
  static constexpr std::size_t most_spans = 16;  // kept beside the one the clock is in

  // Wall time whose runs are all settled, both ends included.
  struct Span {
    Clock::time_point from;
    Clock::time_point to;
    friend bool operator==(const Span&, const Span&) = default;
  };
  // Runs of one entry that due() did not make on time, the earliest at `first`.
  struct Missed {
    enum class Why { paused, not_running, clock_jumped, late };
    std::size_t entry = 0;
    Why why = Why::late;
    int runs = 0;
    Clock::time_point first;
    bool caught_up = false;  // run all the same, once, in Due::run
  };
  struct Due {
    // The entries to run now, ordered by the time they were due, so that the latest
    // word on a relay comes last.
    std::vector<std::size_t> run;
    std::vector<Missed> missed;
  };

  // Runs after `since` count as owed: a host that knows when it last ran its timetable
  // passes that, so that a "catch up" entry missed meanwhile runs at the first due().
  Timetable(std::vector<TimetableEntry> entries, Clock::time_point since);
  // The runs after settled.to are owed; those in `settled` and in `others` are done.
  Timetable(std::vector<TimetableEntry> entries, Span settled, std::vector<Span> others);

  // What is due at `now`; `lived` is how long the host has been looking since its last
  // due() (since it started, at the first): a run due before that was passed over.
  Due due(Clock::time_point now, Clock::duration lived);
  // When due() has something to do next: the earliest next run.
  std::optional<Clock::time_point> next_due() const;
  // The stretch the clock is in, up to the last look that settled a run, and the others
  // that it lived through before it was set, jumped or the host stopped: what a host that
  // starts again passes.
  Span settled() const { return {from_, settled_}; }
  const std::vector<Span>& other_spans() const { return others_; }
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
  bool is_settled(Clock::time_point run) const;
  Clock::time_point next_owed(const TimetableEntry& entry, Clock::time_point after) const;
  void tidy(Clock::time_point now);

  std::vector<TimetableEntry> entries_;
  std::vector<Slot> slots_;
  Clock::time_point from_;     // the stretch the clock is in starts here,
  Clock::time_point settled_;  // its last run was settled by the look at this time,
  Clock::time_point looked_;   // and the clock was here at the last look
  bool looked_before_ = false;
  std::vector<Span> others_;
};

// The entry's first run after `after`; time_point::max() when it has no day to run on.
Timetable::Clock::time_point run_after(const TimetableEntry& entry,
                                       Timetable::Clock::time_point after);
