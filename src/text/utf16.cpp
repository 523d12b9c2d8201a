#include "text/utf16.h"

#include <cstdint>

#include "text/utf8.h"

namespace {

void append_unit(std::string& out, std::uint32_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>(unit >> 8);
}

std::uint32_t unit_at(std::string_view bytes, std::size_t pos) {
  return static_cast<unsigned char>(bytes[pos]) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[pos + 1])) << 8;
}

bool is_high_surrogate(std::uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(std::uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

std::string utf16le_to_utf8(std::string_view bytes, bool& exact) {
  exact = true;
  std::string out;
  out.reserve(bytes.size());
  std::size_t pos = 0;
  for (; pos + 2 <= bytes.size(); pos += 2) {
    const std::uint32_t unit = unit_at(bytes, pos);
    if (is_high_surrogate(unit) && pos + 4 <= bytes.size() &&
        is_low_surrogate(unit_at(bytes, pos + 2))) {
      append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (unit_at(bytes, pos + 2) - 0xDC00));
      pos += 2;
    } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
      out += utf8_replacement;
      exact = false;
    } else {
      append_utf8(out, unit);
    }
  }
  if (pos < bytes.size()) {
    out += utf8_replacement;
    exact = false;
  }
  return out;
}

std::string utf8_to_utf16le(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = utf8_sequence_length(text, pos);
    if (length == 0) {
      append_unit(out, 0xFFFD);
      ++pos;
      continue;
    }
    const std::uint32_t c = utf8_code_point(text, pos, length);
    pos += length;
    if (c >= 0x10000) {
      append_unit(out, 0xD800 + ((c - 0x10000) >> 10));
      append_unit(out, 0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      append_unit(out, c);
    }
  }
  return out;
}
