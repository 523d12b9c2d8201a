#include "event_log/log_limits.h"

#include <charconv>

#include "settings/settings_files.h"
#include "settings/settings_text.h"

namespace {

// A smaller log would lose the events of a busy hour before anyone reads them.
constexpr std::int64_t fewest_events = 1000;

std::optional<std::int64_t> whole_number(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> apply_log_limit(EventLogLimits& limits, std::string_view key,
                                           std::string_view value) {
  const std::string quoted = '"' + std::string(value) + '"';
  if (key == log_max_events_key) {
    const auto count = whole_number(value);
    if (!count || *count < fewest_events) {
      return quoted + " is not a number of events from " + std::to_string(fewest_events);
    }
    limits.max_events = *count;
    return std::nullopt;
  }
  if (key == log_max_age_key) {
    if (value == "none") {
      limits.max_age.reset();
      return std::nullopt;
    }
    const char unit = value.empty() ? '\0' : value.back();
    const auto count = whole_number(value.substr(0, value.empty() ? 0 : value.size() - 1));
    // Up to about a century: hours beyond would overflow the clock's arithmetic.
    if ((unit != 'h' && unit != 'd') || !count || *count < 1 ||
        *count > (unit == 'd' ? 36'500 : 876'000)) {
      return quoted + " is not an age in hours or days (48h, 90d) or none";
    }
    limits.max_age = std::chrono::hours(unit == 'd' ? *count * 24 : *count);
    return std::nullopt;
  }
  return "no setting is called \"" + std::string(key) + "\" (" + std::string(log_max_events_key) +
         ", " + std::string(log_max_age_key) + ")";
}

std::variant<EventLogLimits, std::string> parse_log_limits(std::string_view text,
                                                           const std::string& file_name) {
  auto read = settings_lines(text, file_name, {});
  if (auto* why = std::get_if<std::string>(&read)) return std::move(*why);
  EventLogLimits limits;
  for (const SettingsLine& line : std::get<std::vector<SettingsLine>>(read)) {
    if (auto why = apply_log_limit(limits, line.key, line.value)) {
      return settings_where(file_name, line.number) + *why;
    }
  }
  return limits;
}

std::variant<EventLogLimits, std::string> read_log_limits(const std::filesystem::path& folder) {
  const FileText read = read_folder_settings(folder, log_limits_file_name);
  if (!read.text) return read.reason;
  return parse_log_limits(*read.text, (folder / log_limits_file_name).string());
}
