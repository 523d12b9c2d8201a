#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// How long a pulse lasts, as every program takes it: "500ms", "2s", "1.5m", "1h": a
// number of milliseconds, seconds, minutes or hours without a sign or blanks, with an
// optional fraction, that comes to whole milliseconds, at least 1 ms and at most a day.
// Each program may allow less (see its own limits).
std::optional<std::chrono::milliseconds> parse_duration(std::string_view text);

// What a duration looks like, for the message that refuses one.
inline constexpr std::string_view duration_form =
    "write a number and a unit: ms, s, m or h (500ms, 1.5s, 2m, 1h)";

// A duration as the operator would write it: "30s", "10m", "2h", "1500ms".
std::string duration_text(std::chrono::milliseconds duration);
