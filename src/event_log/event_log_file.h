#pragma once

#include <string_view>

// The event log's file in a state folder.
inline constexpr std::string_view event_log_file_name = "events.db";
