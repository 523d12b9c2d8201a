#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The legacy code page of the name file: the system's ANSI code page on Windows,
// GB18030 elsewhere (a superset of code page 936, in which Simplified Chinese Windows
// systems write the file, and able to hold every character).

// Bytes that do not decode become U+FFFD.
std::string ansi_to_utf8(std::string_view bytes);
// `text` must be well-formed UTF-8; characters the code page lacks become '?'.
std::string utf8_to_ansi(std::string_view text);
// Bytes of the character that starts at `pos`: at least 1, never past the end.
std::size_t ansi_char_length(std::string_view bytes, std::size_t pos);
