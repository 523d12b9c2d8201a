#include "text/shown_text.h"

#include <cstdio>

#include "text/utf8.h"

std::string shown_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = utf8_sequence_length(text, pos);
    char code[8];
    if (length == 0) {
      // A lone byte 80..9F would be a C1 control to an 8-bit terminal.
      std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned char>(text[pos]));
      out += code;
      ++pos;
      continue;
    }
    const char32_t c = utf8_code_point(text, pos, length);
    if (is_control(c)) {
      std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
      out += code;
    } else {
      out.append(text.substr(pos, length));
    }
    pos += length;
  }
  return out;
}
