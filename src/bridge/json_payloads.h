#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "schedule/timetable.h"

// What a line's info topic says: the bridge's version, the boards it serves, the device
// it opens and how long it waits for a board's answer. One line of JSON.
std::string line_info_json(std::string_view version, const std::vector<std::uint8_t>& addresses,
                           std::string_view device, std::chrono::milliseconds answer_timeout);

// A board's 16 states in one message, keyed by relay: {"1":"ON","2":"OFF",...}.
std::string board_state_json(std::uint16_t opened);

// The timetable for its readers: {"entries":[{"name":"lights","next":"2026-06-01T04:30:00Z",
// "paused":false},...]}, entry N at position N-1, its next run in UTC (null when none).
std::string timetable_json(const Timetable& timetable);

// A time in UTC as the JSON payloads give it: "2026-06-01T04:30:00Z".
std::string utc_text(std::chrono::system_clock::time_point time);

// A refused command's result (command_result_json) with the time it was refused: what a
// board's refusal topic keeps.
std::string refusal_json(const std::string& result, std::chrono::system_clock::time_point time);
