#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "text/char_length.h"

// How the text of one profile file is stored on disk, decided from the whole file so
// that files written on a Chinese Windows system always read as Windows reads them:
//   - a UTF-8 byte-order mark (EF BB BF) means UTF-8;
//   - FF FE means UTF-16LE (Notepad's "Unicode");
//   - any other file is in the legacy code page (on Windows the ANSI code page, else
//     GB18030 with byte 80 the euro sign of code page 936), except that off Windows a
//     file of well-formed UTF-8 with characters beyond ASCII is UTF-8 when
//       - it is no GB18030 text at all, or
//       - it holds a UTF-8 character of 3 or 4 bytes (every Chinese character is 3)
//         and either its GB18030 reading holds a character outside GB2312, or its
//         UTF-8 reading is made of GB2312 characters only.
// GB2312 holds the characters that a user of code page 936 types. A file that reads
// both ways and reads as GB2312 characters only in GB18030 is taken for what a
// Windows operator typed (D6 B5 is 值, never U+05B5, a Hebrew point; 2-byte UTF-8
// forms of accented letters pair up into Chinese characters as well), unless its UTF-8
// reading is also Chinese text of GB2312 characters, which bytes from code page 936
// almost never make: then an editor saved Chinese names as UTF-8.
//
// Names and values are matched in the file's own bytes (a UTF-16 file's text as UTF-8),
// so the lookup counts what is on disk.
class FileEncoding {
 public:
  enum class Form { code_page, utf8, utf8_with_bom, utf16le };

  static FileEncoding detect(std::string_view bytes);
  static FileEncoding utf8_without_bom() { return FileEncoding(Form::utf8); }

  Form form() const { return form_; }
  bool is_utf8() const { return form_ == Form::utf8 || form_ == Form::utf8_with_bom; }
  bool is_utf16() const { return form_ == Form::utf16le; }

  // The byte-order mark that the file starts with, kept when the file is rewritten.
  std::string_view bom() const;
  // Whether the file starts with the UTF-16LE mark: its ASCII is not stored as bytes.
  static bool is_utf16_file(std::string_view bytes) { return bytes.starts_with("\xFF\xFE"); }
  // The file's bytes after its byte-order mark, if any.
  static std::string_view body(std::string_view bytes);

  // The text that names and values are looked up and edited in: the body, or for a
  // UTF-16 file the body as UTF-8. `exact` is cleared when file_bytes would not give the
  // same bytes back (a UTF-16 file with an unpaired surrogate).
  std::string text(std::string_view bytes, bool& exact) const;
  // The whole file holding the text: the mark, then the text in the file's encoding.
  std::string file_bytes(std::string_view text) const;

  // UTF-8 to the form of text() and back.
  std::string encode(std::string_view utf8_text) const;
  std::string decode(std::string_view text) const;
  // The first character of the UTF-8 text that the file cannot hold, as UTF-8.
  std::optional<std::string> first_missing_character(std::string_view utf8_text) const;
  // The longest start of `text` that holds whole characters only and at most `limit`
  // units of the file's encoding: bytes, or UTF-16 code units in a UTF-16 file. A
  // character cut by the limit is dropped, not left as a broken byte or half a pair.
  std::string_view cut(std::string_view text, std::size_t limit) const;
  // How names divide into characters, so that only whole ASCII characters fold.
  CharLength char_length() const;

 private:
  explicit FileEncoding(Form form) : form_(form) {}

  Form form_;
};
