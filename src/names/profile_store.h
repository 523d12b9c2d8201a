#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/message_boxes.h"
#include "names/name_file_lock.h"

// Reads and writes single values of a profile file (`[section]` lines followed by
// `key=value` lines). Strings are UTF-8 here and in the file's encoding on disk (see
// FileEncoding), which a write never changes.
// Each call first checks that the file exists. What went wrong comes back with the
// result as the message the operator needs ("<path> not found." under "File Not Found",
// a read or write failure, a lock that was not had); the caller decides whether to
// show it, so that a quiet reload and the window's start say exactly what they mean to.
// Writes hold the file's NameFileLock, waiting for it up to `lock_patience`.

// A value read, or the empty value and what went wrong.
struct ReadOutcome {
  std::string value;
  std::optional<Message> error;
};

// Values read at once, in the order asked for: all "" with what went wrong.
struct ReadValues {
  std::vector<std::string> values;
  std::optional<Message> error;
};

// Whether a section's line is in the file, or false and what went wrong.
struct SectionOutcome {
  bool present = false;
  std::optional<Message> error;
};

// Whether a value was written. Not written and no error: the write was refused for
// its text alone (a line break, a character the file cannot hold), which the caller
// checks and explains before writing.
struct WriteOutcome {
  bool written = false;
  std::optional<Message> error;
};

class ProfileStore {
 public:
  // What a read gives back at most: bytes of the file's encoding, UTF-16 code units in
  // a UTF-16 file.
  static constexpr std::size_t read_limit = 254;

  explicit ProfileStore(std::chrono::milliseconds lock_patience = NameFileLock::default_patience)
      : lock_patience_(lock_patience) {}

  // The stored value cut to 254 bytes of the file's encoding (254 UTF-16 code units in a
  // UTF-16 file), or "" (with the error when the file is missing or unreadable).
  ReadOutcome read_value(const std::filesystem::path& file, std::string_view section,
                         std::string_view key);
  // The same for several keys of one section, from one read of the file.
  ReadValues read_values(const std::filesystem::path& file, std::string_view section,
                         std::span<const std::string> keys);
  // Written, or not: with an error when the file is missing or unreadable, another
  // writer held the lock for the whole wait, the file could not be replaced, or the
  // write would change how the file's other characters read (the new name's bytes
  // would make it read in the other encoding, or a UTF-16 file holds text that does
  // not convert back); without one when the text holds a line break or a character
  // the file cannot hold. Only the key's line changes; every other byte stays.
  WriteOutcome write_value(const std::filesystem::path& file, std::string_view section,
                           std::string_view key, std::string_view value);
  // The first character of the UTF-8 text that the file's encoding cannot hold (a few
  // private-use characters have no GB18030 bytes), as UTF-8, so that the operator can
  // be told which one; nothing when the file can hold all of it. A missing or
  // unreadable file counts as empty: the write that follows reports it.
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
  SectionOutcome has_section_line(const std::filesystem::path& file, std::string_view section);

 private:
  std::chrono::milliseconds lock_patience_;
};
