#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// How the text of one profile file is stored on disk. A file that starts with a
// UTF-8 byte-order mark, or (off Windows) whose non-ASCII bytes are all well-formed
// UTF-8, is UTF-8 (an editor on a Linux desktop saved it so); any other file, and a
// file of ASCII only, is in the legacy code page. Names and values are handled in the
// file's own bytes, so the lookup and the 254-byte read limit count what is on disk.
class FileEncoding {
 public:
  static FileEncoding detect(std::string_view bytes);
  static FileEncoding utf8_without_bom() { return FileEncoding(true, false); }

  bool is_utf8() const { return utf8_; }
  // The byte-order mark that the file starts with, kept when the file is rewritten.
  std::string_view bom() const;
  // The file's text after its byte-order mark, if any.
  static std::string_view body(std::string_view bytes);

  std::string encode(std::string_view utf8_text) const;
  std::string decode(std::string_view bytes) const;
  // The first character of the UTF-8 text that the file cannot hold, as UTF-8.
  std::optional<std::string> first_missing_character(std::string_view utf8_text) const;
  // The longest start of `bytes` of at most `limit` bytes that holds whole characters
  // only: a character cut by the limit is dropped, not left as a broken byte.
  std::string_view cut(std::string_view bytes, std::size_t limit) const;

 private:
  FileEncoding(bool utf8, bool bom) : utf8_(utf8), bom_(bom) {}

  bool utf8_;
  bool bom_;
};
