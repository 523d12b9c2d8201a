// The typed-text conversion against a reference of its own: any text, accepted or not,
// must give what the documented grammar and exact rounding give.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "common/text_number.h"
#include "fuzz_input.h"
#include "invariant.h"

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Blanks, digits, at most one point, blanks; at least one digit. The value is computed
// on the digit strings themselves: leading zeros dropped, then compared by length and
// text with the limit, and the fraction compared with "5000..." of its own length.
std::optional<std::int64_t> reference(std::string_view text, std::int64_t limit) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return std::nullopt;
  const std::size_t end = text.find_last_not_of(" \t") + 1;
  const std::string_view body = text.substr(begin, end - begin);

  std::string whole;
  std::string fraction;
  bool seen_point = false;
  for (char c : body) {
    if (c == '.' && !seen_point) {
      seen_point = true;
    } else if (is_digit(c)) {
      (seen_point ? fraction : whole) += c;
    } else {
      return std::nullopt;
    }
  }
  if (whole.empty() && fraction.empty()) return std::nullopt;

  whole.erase(0, whole.find_first_not_of('0'));
  if (whole.size() > 18) return std::nullopt;  // far beyond any target type
  std::int64_t value = whole.empty() ? 0 : std::stoll(whole);

  std::string half(std::max<std::size_t>(fraction.size(), 1), '0');
  half.front() = '5';
  const int against_half = fraction.empty() ? -1 : fraction.compare(half);
  if (against_half > 0 || (against_half == 0 && value % 2 == 1)) ++value;
  if (value > limit) return std::nullopt;
  return value;
}

void check_text(std::string_view text) {
  const auto as_16 = text_to_int16(text);
  const auto as_32 = text_to_int32(text);
  const auto want_16 = reference(text, std::numeric_limits<std::int16_t>::max());
  const auto want_32 = reference(text, std::numeric_limits<std::int32_t>::max());
  const std::string shown = "text <" + std::string(text) + "> " + hex_dump(text);
  require(as_16.has_value() == want_16.has_value(), "text_to_int16 accepts what the grammar does",
          shown);
  require(!as_16 || *as_16 == *want_16, "text_to_int16 rounds as the reference", shown);
  require(as_32.has_value() == want_32.has_value(), "text_to_int32 accepts what the grammar does",
          shown);
  require(!as_32 || *as_32 == *want_32, "text_to_int32 rounds as the reference", shown);
}

void check_round_trip(std::uint32_t value) {
  const std::string text = number_to_text(value);
  require(!text.empty() && text.find_first_not_of("0123456789") == std::string::npos,
          "number_to_text gives digits only", text);
  require(text == "0" || text.front() != '0', "number_to_text has no leading zero", text);
  const auto back = text_to_int32(text);
  if (value <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
    require(back && static_cast<std::uint32_t>(*back) == value,
            "text_to_int32(number_to_text(v)) == v", text);
  } else {
    require(!back, "text_to_int32 refuses what does not fit", text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::string_view text = input.rest();
  check_text(text);

  // The same text as the address box may hold it after an edit: trimmed or padded.
  if (text.size() < 64) {
    // Appended rather than added up: GCC 12 at -O3 warns falsely on "x" + std::string.
    check_text(std::string(" ").append(text).append("\t"));
    check_text(text.substr(text.size() / 2));
  }

  // Values from the input's own bytes, so that every width of number is tried.
  FuzzInput numbers(data, size);
  for (int i = 0; i < 4 && !numbers.empty(); ++i) {
    const std::uint32_t low = numbers.word();
    const std::uint32_t high = numbers.word();
    check_round_trip(low | high << 16);
    check_round_trip(low);
  }
  return 0;
}
