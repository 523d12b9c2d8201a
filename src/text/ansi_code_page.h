#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The legacy code page of the name file: the system's ANSI code page on Windows,
// GB18030 elsewhere (a superset of code page 936, in which Simplified Chinese Windows
// systems write the file, and able to hold every character but a few private-use ones).

// Whether a file without a byte-order mark whose bytes are valid UTF-8 is taken as
// UTF-8 (a Linux editor saved it so). Not on Windows: there the file is in the ANSI
// code page, as for every other Windows program that reads it, and a name whose
// code-page bytes happen to form UTF-8 must neither be misread nor turn the file
// into UTF-8.
#ifdef _WIN32
inline constexpr bool unmarked_utf8_files = false;
#else
inline constexpr bool unmarked_utf8_files = true;
#endif

// Bytes that do not decode become U+FFFD; byte 80 is the euro sign, as in code page 936.
std::string ansi_to_utf8(std::string_view bytes);
// `text` must be well-formed UTF-8; characters the code page lacks become '?'. The euro
// sign is 80, as in code page 936.
std::string utf8_to_ansi(std::string_view text);
// Bytes of the character that starts at `pos`: at least 1, never past the end.
std::size_t ansi_char_length(std::string_view bytes, std::size_t pos);
// The first character of the UTF-8 text that the code page has no bytes for (it would
// be written as '?'), as UTF-8; nothing when the code page holds all of it.
std::optional<std::string> first_missing_ansi_character(std::string_view text);
// Whether every character of the UTF-8 text is ASCII or one of GB2312, the characters a
// user of code page 936 types: it decides files that read both as GB18030 and as UTF-8.
// Only where unmarked UTF-8 files are recognized (not on Windows).
bool is_gb2312_text(std::string_view text);
