// The code page and file encoding of the name file on any bytes: decoding gives
// well-formed UTF-8, encoding and decoding undo each other, character lengths stay
// inside the text, and the 254-byte cut keeps whole characters only.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "invariant.h"
#include "reference_utf8.h"
#include "text/ansi_code_page.h"
#include "text/file_encoding.h"
#include "text/utf8.h"

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";
constexpr std::string_view euro = "€";

void check_utf8_helpers(std::string_view bytes) {
  const std::string detail = hex_dump(bytes);
  require(is_valid_utf8(bytes) == reference_utf8::is_valid(bytes),
          "is_valid_utf8 agrees with decoding by value", detail);
  bool ascii = true;
  for (std::size_t pos = 0; pos < bytes.size(); ++pos) {
    ascii = ascii && static_cast<unsigned char>(bytes[pos]) < 0x80;
    require(utf8_sequence_length(bytes, pos) == reference_utf8::char_length(bytes, pos),
            "utf8_sequence_length agrees with decoding by value",
            detail + " at " + std::to_string(pos));
  }
  require(is_ascii(bytes) == ascii, "is_ascii", detail);
  require(sanitize_utf8(bytes) == reference_utf8::sanitized(bytes),
          "sanitize_utf8 replaces each undecodable byte", detail);
}

// Characters that GB18030 reads from two byte forms and writes in one: the euro sign
// (A2 E3, and 80 as code page 936 has it) and six characters that GB18030-2005 moved
// from four-byte codes to FE 51, FE 52, FE 53, FE 6C, FE 76 and FE 91.
bool has_second_form(std::string_view text) {
  for (std::string_view c :
       {"€", "\U00020087", "\U00020089", "\U000200CC", "\U000215D7", "\U0002298F", "\U000241FE"}) {
    if (text.find(c) != std::string_view::npos) return true;
  }
  return false;
}

void check_code_page(std::string_view bytes) {
  const std::string detail = hex_dump(bytes);
  for (std::size_t pos = 0; pos < bytes.size(); ++pos) {
    const std::size_t length = ansi_char_length(bytes, pos);
    require(length >= 1 && length <= bytes.size() - pos,
            "ansi_char_length is at least 1 and stays inside the text",
            detail + " at " + std::to_string(pos));
  }

  const std::string text = ansi_to_utf8(bytes);
  require(reference_utf8::is_valid(text), "ansi_to_utf8 gives well-formed UTF-8", detail);

  // ASCII and byte 80 alone need no table: 80 is the euro sign in code page 936, and
  // files from Simplified Chinese Windows systems hold it so.
  if (std::all_of(bytes.begin(), bytes.end(),
                  [](char c) { return static_cast<unsigned char>(c) <= 0x80; })) {
    std::string want;
    for (char c : bytes) want += c == '\x80' ? euro : std::string_view(&c, 1);
    require(text == want, "byte 80 reads as the euro sign", detail + " -> " + hex_dump(text));
  }

  if (text.find(replacement) == std::string::npos) {
    const std::string again = utf8_to_ansi(text);
    require(ansi_to_utf8(again) == text, "decoded text written again reads back as it",
            detail + " -> " + hex_dump(again));
    require(has_second_form(text) || again == bytes,
            "text decoded without damage encodes to its bytes", detail + " -> " + hex_dump(again));
  }
}

// What a character reads back as after a trip through the file: the code page writes
// '?' for the few private-use characters that it lacks (and a write refuses them).
std::string_view kept_as(const FileEncoding& encoding, std::string_view c) {
  const bool code_page = encoding.form() == FileEncoding::Form::code_page;
  return !code_page || c.size() == 1 || encoding.encode(c) != "?" ? c : "?";
}

// The units of the file's encoding that a character takes: UTF-16 code units in a
// UTF-16 file, else its bytes there.
std::size_t units_of(const FileEncoding& encoding, std::string_view c) {
  if (encoding.is_utf16()) return c.size() == 4 ? 2 : 1;
  return encoding.encode(c).size();
}

// GB18030 as its definition lays it out, with byte 80 alone (the euro sign of code
// page 936): whether the bytes read as it, and whether every character of more than
// one byte is in a row of GB2312 that has characters (A1..A9, B0..F7 but for
// D7 FA..FE), cells A1..FE.
struct GbReading {
  bool valid = true;
  bool gb2312_only = true;
};
GbReading reference_gb18030(std::string_view bytes) {
  auto at = [&](std::size_t i, unsigned low, unsigned high) {
    return i < bytes.size() && static_cast<unsigned char>(bytes[i]) >= low &&
           static_cast<unsigned char>(bytes[i]) <= high;
  };
  GbReading reading;
  for (std::size_t i = 0; i < bytes.size();) {
    if (at(i, 0x00, 0x7F)) {
      i += 1;
    } else if (at(i, 0x80, 0x80)) {
      reading.gb2312_only = false;
      i += 1;
    } else if (at(i, 0x81, 0xFE) && at(i + 1, 0x30, 0x39) && at(i + 2, 0x81, 0xFE) &&
               at(i + 3, 0x30, 0x39)) {
      reading.gb2312_only = false;
      i += 4;
    } else if (at(i, 0x81, 0xFE) && (at(i + 1, 0x40, 0x7E) || at(i + 1, 0x80, 0xFE))) {
      const bool row =
          at(i, 0xA1, 0xA9) || (at(i, 0xB0, 0xF7) && !(at(i, 0xD7, 0xD7) && at(i + 1, 0xFA, 0xFE)));
      reading.gb2312_only = reading.gb2312_only && row && at(i + 1, 0xA1, 0xFE);
      i += 2;
    } else {
      return {false, false};
    }
  }
  return reading;
}

// Every character of well-formed text survives a trip through the code page, and the
// cut keeps as many whole characters as fit.
void check_file_encoding(std::string_view bytes, std::size_t limit) {
  using Form = FileEncoding::Form;
  const std::string detail = hex_dump(bytes);
  const FileEncoding detected = FileEncoding::detect(bytes);
  const bool bom = bytes.starts_with("\xEF\xBB\xBF");
  const bool utf16 = !bom && bytes.starts_with("\xFF\xFE");
  const bool non_ascii = std::any_of(bytes.begin(), bytes.end(),
                                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  const bool long_utf8 = std::any_of(bytes.begin(), bytes.end(),
                                     [](char c) { return static_cast<unsigned char>(c) >= 0xE0; });
  const GbReading gb = reference_gb18030(bytes);
  const bool unmarked_utf8 =
      unmarked_utf8_files && non_ascii && reference_utf8::is_valid(bytes) &&
      (!gb.valid || (long_utf8 && (!gb.gb2312_only || is_gb2312_text(bytes))));
  const Form want = bom             ? Form::utf8_with_bom
                    : utf16         ? Form::utf16le
                    : unmarked_utf8 ? Form::utf8
                                    : Form::code_page;
  require(detected.form() == want,
          "marked files are as marked; an unmarked one is UTF-8 only when it is well-formed "
          "UTF-8 and no GB18030, or holds long UTF-8 characters and reads as more than GB2312 "
          "or as GB2312 characters in UTF-8",
          detail);
  const std::size_t mark = bom ? 3 : utf16 ? 2 : 0;
  require(detected.bom() == bytes.substr(0, mark), "the byte-order mark is kept", detail);
  const std::string_view body = FileEncoding::body(bytes);
  require(body == bytes.substr(mark), "the body follows the byte-order mark", detail);
  bool exact = true;
  const std::string file_text = detected.text(bytes, exact);
  require(reference_utf8::is_valid(detected.decode(file_text)),
          "a decoded file is well-formed UTF-8", detail);
  require(exact == (detected.file_bytes(file_text) == bytes),
          "a file whose text converts both ways exactly is written back byte for byte", detail);
  require(utf16 || exact, "only a UTF-16 file can fail to convert both ways", detail);

  const std::string text = reference_utf8::sanitized(bytes);
  const std::vector<std::string_view> chars = reference_utf8::chars(text);
  for (const FileEncoding& encoding : {detected, FileEncoding::utf8_without_bom()}) {
    const std::string encoded = encoding.encode(text);
    std::string kept;
    for (std::string_view c : chars) kept += kept_as(encoding, c);
    require(encoding.decode(encoded) == kept, "decode(encode(text)) == text",
            detail + " form " + std::to_string(static_cast<int>(encoding.form())));

    const std::string_view cut = encoding.cut(encoded, limit);
    require(encoded.starts_with(cut), "the cut is a start of the text", detail);
    std::size_t cut_units = encoding.is_utf16() ? 0 : cut.size();
    if (encoding.is_utf16()) {
      for (std::string_view c : reference_utf8::chars(cut)) cut_units += units_of(encoding, c);
    }
    require(cut_units <= limit || cut.size() == encoded.size(), "the cut keeps to the limit",
            detail);
    // The whole characters that fit, counted one by one in the file's bytes.
    std::string fitting;
    std::size_t used = 0;
    for (std::string_view c : chars) {
      const std::size_t size = units_of(encoding, c);
      if (encoded.size() > limit && used + size > limit) break;
      used += size;
      fitting += kept_as(encoding, c);
    }
    require(encoding.decode(cut) == fitting, "the cut keeps whole characters, as many as fit",
            detail + " limit " + std::to_string(limit) + " -> " + hex_dump(cut));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::size_t limit = input.byte();
  const std::string_view bytes = input.rest();
  check_utf8_helpers(bytes);
  check_code_page(bytes);
  check_file_encoding(bytes, limit);
  return 0;
}
