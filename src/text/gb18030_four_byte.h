#pragma once

#include <optional>
#include <string>
#include <string_view>

// The four-byte characters of GB18030: those beyond U+FFFF (90 30 81 30 .. E3 32 9A 35),
// which follow from the code point by arithmetic, and those of the basic plane that its
// two-byte part lacks (81 30 81 30 .. 84 31 A4 39), by the standard's runs. Code page
// 936 has no four-byte characters: a Windows system set to it reads and writes them
// here, as the program does elsewhere, instead of losing names like 𠀀 or 㐀 to '?'.

// The code point of the four bytes at `pos`, or nothing when they are not such a
// character.
std::optional<char32_t> gb18030_four_byte_code_point(std::string_view bytes, std::size_t pos);
// The four bytes of a code point, or nothing when GB18030 has it in one or two bytes
// (or not at all).
std::optional<std::string> gb18030_four_byte_bytes(char32_t c);
