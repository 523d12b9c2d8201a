#pragma once

#include <chrono>
#include <ctime>
#include <string>

// The wall clock as the machine's time zone shows it (the TZ variable, else the system's
// zone), through the C library: every supported compiler has std::chrono's calendar but
// not yet its time zones.

// The local calendar day at `when`.
std::chrono::year_month_day local_day(std::chrono::system_clock::time_point when);

// When the local clock first shows hour:minute on `day`. A minute that the clock skips
// (daylight saving starts) comes to the first minute after it that the clock shows; a
// minute that it shows twice (daylight saving ends) to the first of the two.
std::chrono::system_clock::time_point local_instant(std::chrono::year_month_day day, int hour,
                                                    int minute);

// "2026-10-25 02:30 +02:00": the local minute with its offset from UTC, which tells the
// two showings of a minute apart when daylight saving ends.
std::string local_minute_text(std::chrono::system_clock::time_point when);

// The C library's localtime, reentrant as each system spells it; false when `time` has
// no local form.
bool local_fields(std::time_t time, std::tm& fields);
