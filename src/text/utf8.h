#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Checks on UTF-8 text: the program's own strings and name files that an editor
// saved as UTF-8.

// The length of the well-formed UTF-8 character at `pos`, or 0 when the bytes there
// are not one (a stray continuation byte, an overlong form, a surrogate, a cut end).
std::size_t utf8_sequence_length(std::string_view text, std::size_t pos);

// The code point of the well-formed character of `length` bytes at `pos`.
char32_t utf8_code_point(std::string_view text, std::size_t pos, std::size_t length);
// Adds the character's UTF-8 bytes to `out`.
void append_utf8(std::string& out, char32_t c);

bool is_ascii(std::string_view bytes);
bool is_valid_utf8(std::string_view bytes);

// The text with each byte that is not part of a well-formed character replaced by
// U+FFFD, so that nothing malformed reaches the file.
std::string sanitize_utf8(std::string_view text);

inline constexpr std::string_view utf8_replacement = "\xEF\xBF\xBD";
