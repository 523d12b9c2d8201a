#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// One line of a timetable, as the operator writes it:
//
//   at 06:30 mon-fri: 1/3 on
//   every day 22:00: 1/all off
//   at 07:00: 1/5 pulse 10m
//   at 06:00 sat,sun: 2/1-4 on, catch up
//   porch lights: at 19:00: 1/7,8 on
//
//   entry  = [name ":"] when ":" switch ["," "catch up"]
//   when   = "at" TIME [days] | "every" ("day" | days) TIME
//   days   = "every day" | a list of mon tue wed thu fri sat sun and ranges (mon-fri,
//            fri-mon wraps), separated by commas; no days means every day
//   TIME   = H:MM or HH:MM, 00:00 to 23:59, in the machine's time zone
//   switch = ADDRESS "/" RELAYS ("on" | "off" | "pulse" DURATION)
//   RELAYS = "all", or relays 1 to 16 and ranges separated by commas (3,5-7)
//
// DURATION is a pulse's length as every program takes it (500ms, 10m). An entry's name
// is what it is paused by: the text before the first ':' when the line does not start
// with "at" or "every", otherwise the whole line (trimmed). "catch up" runs a run that
// was missed (the program was down or the machine asleep) once when it notices; without
// it a missed run is let go.
struct TimetableEntry {
  std::string name;
  int hour = 0;
  int minute = 0;
  std::uint8_t days = 0x7F;  // bit 0 Monday ... bit 6 Sunday
  std::uint8_t address = 0;
  std::uint16_t relays = 0;  // bit r-1 is relay r; all 16 for "all"
  enum class Action { on, off, pulse };
  Action action = Action::on;
  std::chrono::milliseconds pulse_length{0};  // with Action::pulse
  bool catch_up = false;

  friend bool operator==(const TimetableEntry&, const TimetableEntry&) = default;
};

// One entry's text and where it was written ("FILE:LINE"), which starts its fault.
struct TimetableLine {
  std::string_view text;
  std::string where;
};

// The entry of `text`, or why it is none.
std::variant<TimetableEntry, std::string> parse_timetable_entry(std::string_view text);

// Every entry in order, or the first fault as "FILE:LINE: why"; two entries may not
// share a name (pausing one would pause both).
std::variant<std::vector<TimetableEntry>, std::string> parse_timetable(
    const std::vector<TimetableLine>& lines);
