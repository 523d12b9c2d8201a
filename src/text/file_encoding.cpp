#include "text/file_encoding.h"

#include "text/ansi_code_page.h"
#include "text/utf16.h"
#include "text/utf8.h"

namespace {

constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";
constexpr std::string_view utf16le_bom = "\xFF\xFE";

bool in_range(std::string_view bytes, std::size_t pos, unsigned low, unsigned high) {
  if (pos >= bytes.size()) return false;
  const auto byte = static_cast<unsigned char>(bytes[pos]);
  return byte >= low && byte <= high;
}

// How the bytes read as GB18030 (byte 80 being the euro sign of code page 936).
struct Gb18030Reading {
  bool valid = true;
  // Every character beyond ASCII is in a row of GB2312 that has characters (symbols
  // A1..A9, hanzi B0..F7 but for D7 FA..FE), cells A1..FE.
  bool gb2312_only = true;
};

bool is_gb2312_pair(unsigned lead, unsigned trail) {
  if (trail < 0xA1 || trail > 0xFE) return false;
  if (lead >= 0xA1 && lead <= 0xA9) return true;
  return lead >= 0xB0 && lead <= 0xF7 && !(lead == 0xD7 && trail >= 0xFA);
}

Gb18030Reading read_as_gb18030(std::string_view bytes) {
  Gb18030Reading reading;
  for (std::size_t pos = 0; pos < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[pos]);
    if (lead < 0x80) {
      ++pos;
    } else if (lead == 0x80) {
      reading.gb2312_only = false;
      ++pos;
    } else if (lead == 0xFF) {
      return {false, false};
    } else if (in_range(bytes, pos + 1, 0x30, 0x39)) {
      if (!in_range(bytes, pos + 2, 0x81, 0xFE) || !in_range(bytes, pos + 3, 0x30, 0x39)) {
        return {false, false};
      }
      reading.gb2312_only = false;
      pos += 4;
    } else if (in_range(bytes, pos + 1, 0x40, 0x7E) || in_range(bytes, pos + 1, 0x80, 0xFE)) {
      reading.gb2312_only =
          reading.gb2312_only && is_gb2312_pair(lead, static_cast<unsigned char>(bytes[pos + 1]));
      pos += 2;
    } else {
      return {false, false};
    }
  }
  return reading;
}

bool has_long_utf8_character(std::string_view bytes) {
  for (const char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0xE0) return true;
  }
  return false;
}

bool is_unmarked_utf8(std::string_view bytes) {
  if (!unmarked_utf8_files || is_ascii(bytes) || !is_valid_utf8(bytes)) return false;
  const Gb18030Reading gb = read_as_gb18030(bytes);
  if (!gb.valid) return true;
  if (!has_long_utf8_character(bytes)) return false;
  return !gb.gb2312_only || is_gb2312_text(bytes);
}

}  // namespace

FileEncoding FileEncoding::detect(std::string_view bytes) {
  if (bytes.starts_with(utf8_bom)) return FileEncoding(Form::utf8_with_bom);
  if (is_utf16_file(bytes)) return FileEncoding(Form::utf16le);
  return FileEncoding(is_unmarked_utf8(bytes) ? Form::utf8 : Form::code_page);
}

std::string_view FileEncoding::body(std::string_view bytes) {
  if (bytes.starts_with(utf8_bom)) return bytes.substr(utf8_bom.size());
  if (is_utf16_file(bytes)) return bytes.substr(utf16le_bom.size());
  return bytes;
}

std::string_view FileEncoding::bom() const {
  if (form_ == Form::utf8_with_bom) return utf8_bom;
  if (form_ == Form::utf16le) return utf16le_bom;
  return {};
}

std::string FileEncoding::text(std::string_view bytes, bool& exact) const {
  exact = true;
  const std::string_view file_body = body(bytes);
  return is_utf16() ? utf16le_to_utf8(file_body, exact) : std::string(file_body);
}

std::string FileEncoding::file_bytes(std::string_view text) const {
  std::string bytes(bom());
  bytes += is_utf16() ? utf8_to_utf16le(text) : std::string(text);
  return bytes;
}

std::string FileEncoding::encode(std::string_view utf8_text) const {
  if (is_ascii(utf8_text)) return std::string(utf8_text);
  const std::string clean = sanitize_utf8(utf8_text);
  return form_ == Form::code_page ? utf8_to_ansi(clean) : clean;
}

std::string FileEncoding::decode(std::string_view text) const {
  if (is_ascii(text)) return std::string(text);
  return form_ == Form::code_page ? ansi_to_utf8(text) : sanitize_utf8(text);
}

std::optional<std::string> FileEncoding::first_missing_character(std::string_view utf8_text) const {
  if (form_ != Form::code_page || is_ascii(utf8_text)) return std::nullopt;
  return first_missing_ansi_character(utf8_text);
}

// A UTF-16 file's limit counts UTF-16 code units, as the platform's wide-character
// service counts its buffer: 254 units, a character beyond U+FFFF taking two.
std::string_view FileEncoding::cut(std::string_view text, std::size_t limit) const {
  if (text.size() <= limit) return text;
  std::size_t end = 0;
  std::size_t used = 0;
  while (end < text.size()) {
    std::size_t length =
        form_ == Form::code_page ? ansi_char_length(text, end) : utf8_sequence_length(text, end);
    if (length == 0) length = 1;  // a damaged byte counts as one character
    const std::size_t units = is_utf16() ? utf16_units(text, end) : length;
    if (used + units > limit) break;
    used += units;
    end += length;
  }
  return text.substr(0, end);
}

CharLength FileEncoding::char_length() const {
  return form_ == Form::code_page ? ansi_char_length : nullptr;
}
