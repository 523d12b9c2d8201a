#include "text/utf8.h"

#include <cstdint>
#include <cstring>

namespace {

bool in_range(std::string_view text, std::size_t pos, unsigned low, unsigned high) {
  if (pos >= text.size()) return false;
  const auto byte = static_cast<unsigned char>(text[pos]);
  return byte >= low && byte <= high;
}

}  // namespace

std::size_t utf8_sequence_length(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) return 1;
  // Second-byte ranges that exclude overlong forms, surrogates and values above U+10FFFF.
  unsigned low = 0x80;
  unsigned high = 0xBF;
  std::size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (!in_range(text, pos + 1, low, high)) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!in_range(text, pos + i, 0x80, 0xBF)) return 0;
  }
  return length;
}

char32_t utf8_code_point(std::string_view text, std::size_t pos, std::size_t length) {
  char32_t c = static_cast<unsigned char>(text[pos]);
  if (length > 1) c &= 0x3Fu >> (length - 1);
  for (std::size_t i = 1; i < length; ++i) {
    c = c << 6 | (static_cast<unsigned char>(text[pos + i]) & 0x3Fu);
  }
  return c;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool is_ascii(std::string_view bytes) {
  std::size_t pos = 0;
  // Eight bytes at a time: the name file is tens of kilobytes and read for every label.
  for (; pos + 8 <= bytes.size(); pos += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data() + pos, 8);
    if (word & 0x8080808080808080ULL) return false;
  }
  for (; pos < bytes.size(); ++pos) {
    if (static_cast<unsigned char>(bytes[pos]) >= 0x80) return false;
  }
  return true;
}

bool is_valid_utf8(std::string_view bytes) {
  for (std::size_t pos = 0; pos < bytes.size();) {
    if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const std::size_t length = utf8_sequence_length(bytes, pos);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

std::string sanitize_utf8(std::string_view text) {
  if (is_valid_utf8(text)) return std::string(text);
  std::string clean;
  clean.reserve(text.size() + 8);
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = utf8_sequence_length(text, pos);
    if (length == 0) {
      clean += utf8_replacement;
      ++pos;
    } else {
      clean += text.substr(pos, length);
      pos += length;
    }
  }
  return clean;
}
