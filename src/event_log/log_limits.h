#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

// How much the log keeps: the oldest events go first once either limit is passed.
struct EventLogLimits {
  std::int64_t max_events = 1'000'000;
  std::optional<std::chrono::hours> max_age;  // none: kept whatever their age

  friend bool operator==(const EventLogLimits&, const EventLogLimits&) = default;
};

// The keys that set them, in the bridge's configuration and in the state folder's
// events.conf alike:
//
//   log-max-events = 200000   (at least 1000)
//   log-max-age = 90d         (hours or days: 48h, 90d; "none" keeps every age)
inline constexpr std::string_view log_max_events_key = "log-max-events";
inline constexpr std::string_view log_max_age_key = "log-max-age";
inline constexpr std::string_view log_limits_file_name = "events.conf";

// Applies one of those keys to `limits`; why not, when the value is no such limit.
std::optional<std::string> apply_log_limit(EventLogLimits& limits, std::string_view key,
                                           std::string_view value);

// The limits of an events.conf text (common/settings_text.h), the defaults for
// what it leaves out; or the first fault as "<file_name>:<line>: why".
std::variant<EventLogLimits, std::string> parse_log_limits(std::string_view text,
                                                           const std::string& file_name);
// The folder's events.conf; the defaults when there is none.
std::variant<EventLogLimits, std::string> read_log_limits(const std::filesystem::path& folder);
