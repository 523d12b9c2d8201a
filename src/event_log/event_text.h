#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "event_log/event.h"
#include "event_log/event_json.h"

// An event as relayctl log prints it, one line in the machine's local time with its offset
// from UTC (ISO 8601):
// "2026-12-08T04:12:05.120+01:00 ttyUSB0 board 1 relay 7 opened (was closed) by mqtt kitchen".
// Text from outside (lines, client ids, reasons) is shown as text, never as controls.
std::string event_line(const Event& event);

// Where a reader starts, as an operator writes it: "today" and "yesterday" (from local
// midnight), a local date "2026-12-07" or date and time "2026-12-07 03:00[:15[.250]]",
// also as event_line() writes it, with its offset ("2026-10-25T02:30:00.000+02:00", or Z),
// or a span back from `now`: "90m", "2h", "3d". Why not, if it is none of these, or a local
// time that the clock shows twice (the hour it goes back; the offset says which) or never.
std::variant<Event::Time, std::string> parse_since(std::string_view text, Event::Time now);
