#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/message_boxes.h"
#include "names/name_file_lock.h"

// Reads and writes single values of a profile file (`[section]` lines followed by
// `key=value` lines). Strings are UTF-8 here and in the file's encoding on disk (see
// FileEncoding), which a write never changes.
// Each call first checks that the file exists; a missing file is reported to the
// operator ("<path> not found.", "File Not Found") and gives the empty result.
// Writes hold the file's NameFileLock, waiting for it up to `lock_patience`.
class ProfileStore {
 public:
  // What a read gives back at most: bytes of the file's encoding, UTF-16 code units in
  // a UTF-16 file.
  static constexpr std::size_t read_limit = 254;

  explicit ProfileStore(MessageBoxes& messages,
                        std::chrono::milliseconds lock_patience = NameFileLock::default_patience)
      : messages_(messages), lock_patience_(lock_patience) {}

  // The stored value cut to 254 bytes of the file's encoding (254 UTF-16 code units in a
  // UTF-16 file), or "".
  std::string read_value(const std::filesystem::path& file, std::string_view section,
                         std::string_view key);
  // Non-zero when written; 0 when the file is missing, the text holds a line break or a
  // character the file cannot hold, another writer held the lock for the whole wait
  // (the operator is told), the file could not be replaced, or the write would
  // change how the file's other characters read (the new name's bytes would make it
  // read in the other encoding, or a UTF-16 file holds text that does not convert back).
  // Only the key's line changes; every other byte stays.
  std::int32_t write_value(const std::filesystem::path& file, std::string_view section,
                           std::string_view key, std::string_view value);
  // The first character of the UTF-8 text that the file's encoding cannot hold (a few
  // private-use characters have no GB18030 bytes), as UTF-8, so that the operator can
  // be told which one; nothing when the file can hold all of it. Tells the operator
  // nothing: a missing or unreadable file is reported by the write that follows.
  std::optional<std::string> unstorable_character(const std::filesystem::path& file,
                                                  std::string_view text);
  // How many units of the file's encoding (see read_limit) the UTF-8 text takes, when
  // that is more than a read gives back; nothing when it reads back whole.
  struct StoredLength {
    std::size_t units;
    bool utf16;  // units are UTF-16 code units, else bytes
  };
  std::optional<StoredLength> length_beyond_read_limit(const std::filesystem::path& file,
                                                       std::string_view text);
  // Whether a line reads exactly "[section]" (case-sensitive, no trimming).
  bool has_section_line(const std::filesystem::path& file, std::string_view section);

 private:
  // The file's bytes, or nothing after telling the operator that it is missing or
  // cannot be read.
  std::optional<std::string> load(const std::filesystem::path& file);

  MessageBoxes& messages_;
  std::chrono::milliseconds lock_patience_;
};
