#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The one conversion of typed text into a number, shared by the address box, the
// port box, the frame builder and the rename dialog.
//
// Accepted: optional blanks (space, tab) around decimal digits with an optional
// fraction ("7", " 7 ", "07", "2.5", ".5", "5."). The fraction rounds to the nearest
// whole number, a half to the even neighbour (2.5 -> 2, 3.5 -> 4). Signs, thousands
// separators, exponents and hexadecimal are refused, as is a result outside the
// target type.
std::optional<std::int16_t> text_to_int16(std::string_view text);
std::optional<std::int32_t> text_to_int32(std::string_view text);

// One to `most_digits` (at most 9) decimal digits and nothing else, at most `max`: the
// relay numbers, addresses, clock times and port numbers that the operator's settings
// files hold.
std::optional<int> small_decimal(std::string_view text, int max, std::size_t most_digits = 3);

// The decimal digits of a value, without sign, blank or leading zeros.
std::string number_to_text(unsigned value);
