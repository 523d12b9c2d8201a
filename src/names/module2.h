#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/message_boxes.h"

// Reads and writes single values of a profile file (`[section]` lines followed by
// `key=value` lines). Strings are UTF-8 here and in the file's encoding on disk (see
// FileEncoding), which a write never changes.
// Each call first checks that the file exists; a missing file is reported to the
// operator ("<path> not found.", "File Not Found") and gives the empty result.
class Module2 {
 public:
  explicit Module2(MessageBoxes& messages) : messages_(messages) {}

  // The stored value cut to 254 bytes of the file's encoding (254 UTF-16 code units in a
  // UTF-16 file), or "".
  std::string read_ini(const std::filesystem::path& file, std::string_view section,
                       std::string_view key);
  // Non-zero when written; 0 when the file is missing, the text holds a line break or a
  // character the file cannot hold, the file could not be replaced, or the write would
  // change how the file's other characters read (the new name's bytes would make it
  // read in the other encoding, or a UTF-16 file holds text that does not convert back).
  // Only the key's line changes; every other byte stays.
  std::int32_t write_ini(const std::filesystem::path& file, std::string_view section,
                         std::string_view key, std::string_view value);
  // The first character of the UTF-8 text that the file's encoding cannot hold (a few
  // private-use characters have no GB18030 bytes), as UTF-8, so that the operator can
  // be told which one; nothing when the file can hold all of it. Tells the operator
  // nothing: a missing or unreadable file is reported by the write that follows.
  std::optional<std::string> unstorable_character(const std::filesystem::path& file,
                                                  std::string_view text);
  // Whether a line reads exactly "[section]" (case-sensitive, no trimming).
  bool section_exists(const std::filesystem::path& file, std::string_view section);

 private:
  // The file's bytes, or nothing after telling the operator that it is missing or
  // cannot be read.
  std::optional<std::string> load(const std::filesystem::path& file);

  MessageBoxes& messages_;
};
