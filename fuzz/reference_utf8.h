#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// UTF-8 decoded the long way, by code point value, to check the program's own
// byte-range tables against: a character is well-formed when its value needs exactly
// the bytes used, is no surrogate and is at most U+10FFFF.
namespace reference_utf8 {

// The length of the well-formed character at `pos`, or 0.
inline std::size_t char_length(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  std::size_t length = 0;
  std::uint32_t value = 0;
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    value = lead & 0x07;
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80) return 0;
    value = value << 6 | (next & 0x3F);
  }
  const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < smallest[length] || value > 0x10FFFF) return 0;
  if (value >= 0xD800 && value <= 0xDFFF) return 0;
  return length;
}

inline bool is_valid(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = char_length(text, pos);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

// Each byte that is not part of a well-formed character becomes U+FFFD.
inline std::string sanitized(std::string_view text) {
  std::string clean;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = char_length(text, pos);
    clean += length == 0 ? std::string_view("\xEF\xBF\xBD") : text.substr(pos, length);
    pos += length == 0 ? 1 : length;
  }
  return clean;
}

// The characters of well-formed text, one string each.
inline std::vector<std::string_view> chars(std::string_view text) {
  std::vector<std::string_view> out;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = char_length(text, pos);
    if (length == 0) return {};
    out.push_back(text.substr(pos, length));
    pos += length;
  }
  return out;
}

}  // namespace reference_utf8
