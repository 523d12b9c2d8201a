#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "event_log/event.h"
#include "event_log/event_json.h"

// An event as relayctl log prints it, one line in the machine's local time:
// "2026-12-08 03:12:05.120 ttyUSB0 board 1 relay 7 opened (was closed) by mqtt kitchen".
// Text from outside (lines, client ids, reasons) is shown as text, never as controls.
std::string event_line(const Event& event);

// Where a reader starts, as an operator writes it: "today" and "yesterday" (from local
// midnight), a local date "2026-12-07" or date and time "2026-12-07 03:00[:15]", or a
// span back from `now`: "90m", "2h", "3d". Why not, if it is none of these.
std::variant<Event::Time, std::string> parse_since(std::string_view text, Event::Time now);
