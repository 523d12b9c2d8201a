#include "names/file_encoding.h"

#include "names/ansi_code_page.h"
#include "names/utf8.h"

namespace {

constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";

}  // namespace

FileEncoding FileEncoding::detect(std::string_view bytes) {
  if (bytes.starts_with(utf8_bom)) return FileEncoding(true, true);
  const bool utf8 = unmarked_utf8_files && !is_ascii(bytes) && is_valid_utf8(bytes);
  return FileEncoding(utf8, false);
}

std::string_view FileEncoding::body(std::string_view bytes) {
  return bytes.starts_with(utf8_bom) ? bytes.substr(utf8_bom.size()) : bytes;
}

std::string_view FileEncoding::bom() const {
  return bom_ ? utf8_bom : std::string_view{};
}

std::string FileEncoding::encode(std::string_view utf8_text) const {
  if (is_ascii(utf8_text)) return std::string(utf8_text);
  const std::string clean = sanitize_utf8(utf8_text);
  return utf8_ ? clean : utf8_to_ansi(clean);
}

std::string FileEncoding::decode(std::string_view bytes) const {
  if (is_ascii(bytes)) return std::string(bytes);
  return utf8_ ? sanitize_utf8(bytes) : ansi_to_utf8(bytes);
}

std::optional<std::string> FileEncoding::first_missing_character(std::string_view utf8_text) const {
  if (utf8_ || is_ascii(utf8_text)) return std::nullopt;
  return first_missing_ansi_character(utf8_text);
}

std::string_view FileEncoding::cut(std::string_view bytes, std::size_t limit) const {
  if (bytes.size() <= limit) return bytes;
  std::size_t end = 0;
  while (end < bytes.size()) {
    std::size_t length = utf8_ ? utf8_sequence_length(bytes, end) : ansi_char_length(bytes, end);
    if (length == 0) length = 1;  // a damaged byte counts as one character
    if (end + length > limit) break;
    end += length;
  }
  return bytes.substr(0, end);
}
