#pragma once

#include <string>
#include <string_view>

// Name files that Notepad saved as "Unicode": UTF-16LE after the mark FF FE. Their text
// is read and edited as UTF-8 and written back whole, which keeps every byte of the
// lines a write does not change as long as the text converts both ways exactly.

// UTF-16LE bytes (without the mark) as UTF-8. An unpaired surrogate, or a last byte
// without its partner, becomes U+FFFD and clears `exact`: such a text would not be
// written back as it was.
std::string utf16le_to_utf8(std::string_view bytes, bool& exact);

// Well-formed UTF-8 as UTF-16LE bytes (without the mark).
std::string utf8_to_utf16le(std::string_view text);

// How many UTF-16 code units the character of the well-formed UTF-8 text at `pos` takes:
// 2 for a character beyond U+FFFF (a surrogate pair), else 1.
inline std::size_t utf16_units(std::string_view text, std::size_t pos) {
  return static_cast<unsigned char>(text[pos]) >= 0xF0 ? 2 : 1;
}
