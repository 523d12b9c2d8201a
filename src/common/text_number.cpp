#include "common/text_number.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Whole non-negative value of the text, or nothing; values beyond `limit` fail.
std::optional<std::int64_t> convert(std::string_view text, std::int64_t limit) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && is_blank(text[begin])) ++begin;
  while (end > begin && is_blank(text[end - 1])) --end;
  std::string_view body = text.substr(begin, end - begin);

  const std::size_t point = body.find('.');
  const std::string_view whole = body.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view{} : body.substr(point + 1);
  if (whole.empty() && fraction.empty()) return std::nullopt;

  std::int64_t value = 0;
  for (char c : whole) {
    if (!is_digit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > limit + 1) return std::nullopt;  // far beyond any target type
  }
  for (char c : fraction) {
    if (!is_digit(c)) return std::nullopt;
  }

  if (!fraction.empty()) {
    const char first = fraction.front();
    const bool rest_nonzero = fraction.find_first_not_of('0', 1) != std::string_view::npos;
    const bool above_half = first > '5' || (first == '5' && rest_nonzero);
    const bool exact_half = first == '5' && !rest_nonzero;
    if (above_half || (exact_half && value % 2 == 1)) ++value;
  }
  if (value > limit) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::int16_t> text_to_int16(std::string_view text) {
  const auto value = convert(text, std::numeric_limits<std::int16_t>::max());
  if (!value) return std::nullopt;
  return static_cast<std::int16_t>(*value);
}

std::optional<std::int32_t> text_to_int32(std::string_view text) {
  const auto value = convert(text, std::numeric_limits<std::int32_t>::max());
  if (!value) return std::nullopt;
  return static_cast<std::int32_t>(*value);
}

std::string number_to_text(unsigned value) {
  return std::to_string(value);
}

std::optional<int> small_decimal(std::string_view text, int max, std::size_t most_digits) {
  if (text.empty() || text.size() > std::min<std::size_t>(most_digits, 9)) return std::nullopt;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value <= max ? std::optional<int>(value) : std::nullopt;
}
