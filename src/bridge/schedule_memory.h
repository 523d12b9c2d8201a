#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "schedule/timetable.h"

// What the bridge keeps of its timetable from one run to the next, in its state folder:
// until when every run was settled, so that a "catch up" entry missed while the bridge
// was down runs once at its start; since when, and the stretches that a clock set back
// left settled, so that no run is made twice after a restart; and which entries are
// paused, so that a pause outlives a restart. One "key = value" a line, times in seconds
// since 1970-01-01 UTC:
//   settled = 1780272000
//   settled-from = 1780000000          (without it, every run before `settled`)
//   settled-spans = 1780300000-1780310000 1780400000-1780400000
//   paused = lights                    (an entry's name, a line per paused entry)
struct ScheduleMemory {
  std::optional<std::chrono::system_clock::time_point> settled;
  std::vector<std::string> paused;
  std::optional<std::chrono::system_clock::time_point> settled_from;
  std::vector<Timetable::Span> spans;
  friend bool operator==(const ScheduleMemory&, const ScheduleMemory&) = default;
};

// One file per line, since several bridges may share a state folder.
std::string schedule_memory_file_name(std::string_view line);
std::string schedule_memory_text(const ScheduleMemory& memory);
// Lines it does not know (a later version's) are passed over; a time that is not
// between 1970 and the year 9999, a settled-from after settled, a span that ends before
// it starts, more spans than a timetable keeps, or a key given twice is the file's
// fault, "<file_name>:N: why", so that no value can make a catch-up entry owe a run.
std::variant<ScheduleMemory, std::string> parse_schedule_memory(std::string_view text,
                                                                std::string_view file_name);
