#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "text/char_length.h"

// Reading and editing the text of a profile file in memory, in the file's own bytes
// (after any byte-order mark). Lines may end in CR LF, LF or CR; the last may lack
// its ending.
//
// A header is a line whose first non-blank character is '[': the section name runs to
// the last ']', without blanks around it. An entry is a line `key=value` that is not
// a comment (';' first). Section names and keys match with ASCII letters folded and
// surrounding blanks ignored; only the first of two equal sections is searched, and
// in it the first of two equal keys counts.

// The value of the key, without the blanks and one pair of matching quotes around it;
// nothing when the section or the key is absent.
std::optional<std::string_view> profile_value(std::string_view text, std::string_view section,
                                              std::string_view key,
                                              CharLength char_length = nullptr);

// The text with the key set to the value: replaced in its line (the key keeps its
// spelling), else added after the last entry of the section, else in a new section at
// the end. Every other byte stays; new lines end with CR LF. A value that reading
// would change (blanks or quotes at its ends) is written inside double quotes so that
// it reads back as given. None of the three may hold a line break.
std::string with_profile_value(std::string_view text, std::string_view section,
                               std::string_view key, std::string_view value,
                               CharLength char_length = nullptr);

// The lines that start a section and that set a key, each ending in CR LF; the value
// is quoted as with_profile_value quotes it.
std::string profile_header_line(std::string_view section);
std::string profile_entry_line(std::string_view key, std::string_view value);

// Whether one line of the text is exactly `line`, byte for byte.
bool has_exact_line(std::string_view text, std::string_view line);
