#include "common/duration_text.h"

#include <charconv>
#include <utility>

namespace {

// Decimal digits and nothing else: from_chars alone would take "-0" as zero, and
// -0.5s or 10.-0m would then pass as times.
std::optional<long long> digits_number(std::string_view text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

constexpr long long day_ms = 86'400'000;

}  // namespace

std::optional<std::chrono::milliseconds> parse_duration(std::string_view text) {
  constexpr std::pair<std::string_view, long long> units[] = {
      {"ms", 1}, {"s", 1000}, {"m", 60'000}, {"h", 3'600'000}};
  long long scale = 0;
  for (const auto& [unit, ms] : units) {
    if (text.ends_with(unit)) {
      scale = ms;
      text.remove_suffix(unit.size());
      break;
    }
  }
  if (scale == 0) return std::nullopt;
  const auto point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  if (point != std::string_view::npos && (fraction.empty() || fraction.size() > 9)) {
    return std::nullopt;
  }
  const auto whole_value = digits_number(whole);
  if (!whole_value || *whole_value > day_ms) return std::nullopt;
  long long ms = *whole_value * scale;
  if (!fraction.empty()) {
    const auto fraction_value = digits_number(fraction);
    if (!fraction_value) return std::nullopt;
    long long power = 1;
    for (std::size_t digit = 0; digit < fraction.size(); ++digit) power *= 10;
    // Whole milliseconds only: 1.5ms and 0.0001s name no time the board can keep.
    const long long part = *fraction_value * scale;
    if (part % power != 0) return std::nullopt;
    ms += part / power;
  }
  if (ms < 1 || ms > day_ms) return std::nullopt;
  return std::chrono::milliseconds(ms);
}

std::string duration_text(std::chrono::milliseconds duration) {
  const auto count = duration.count();
  if (count != 0 && count % 3'600'000 == 0) return std::to_string(count / 3'600'000) + "h";
  if (count != 0 && count % 60'000 == 0) return std::to_string(count / 60'000) + "m";
  if (count != 0 && count % 1000 == 0) return std::to_string(count / 1000) + "s";
  return std::to_string(count) + "ms";
}
