#pragma once

#include <optional>
#include <string>
#include <string_view>

// The four-byte characters of GB18030 beyond U+FFFF (90 30 81 30 .. E3 32 9A 35), which
// follow from the code point by arithmetic alone. Code page 936 has no such bytes: a
// Windows system set to it writes names like 𠀀 with these, as the program does
// elsewhere, instead of losing them to '?'.

// The code point of the four bytes at `pos`, or nothing when they are not such a
// character.
std::optional<char32_t> gb18030_supplementary_code_point(std::string_view bytes, std::size_t pos);
// The four bytes of a code point from U+10000 to U+10FFFF.
std::string gb18030_supplementary_bytes(char32_t c);
