#include "names/profile_store.h"

#include <utility>

#include "names/disk_file.h"
#include "names/file_messages.h"
#include "names/profile_text.h"
#include "text/file_encoding.h"
#include "text/utf16.h"
#include "text/utf8.h"

namespace {

bool has_line_break(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// Only a name with nothing under it is missing; whatever is there and is no file to
// use (a folder, a FIFO, a link that may have been planted) is left to the read, which
// then says what it is, as it reports the system's reason for anything else.
bool file_is_present(const std::filesystem::path& file) {
  std::filesystem::path target;
  const std::error_code refusal = resolve_regular_file(file, target);
  return refusal != std::errc::no_such_file_or_directory && refusal != std::errc::not_a_directory;
}

// The file's text in the form that names are matched in, and how to write it back.
// Only a UTF-16 file's text is converted; any other is matched in its own bytes.
struct ProfileFile {
  explicit ProfileFile(std::string_view bytes) : encoding(FileEncoding::detect(bytes)) {
    if (encoding.is_utf16()) {
      converted = encoding.text(bytes, exact);
      text = converted;
    } else {
      text = FileEncoding::body(bytes);
    }
  }

  FileEncoding encoding;
  bool exact = true;  // whether file_bytes(text) gives the file back as it was
  std::string converted;
  std::string_view text;
};

// The file's bytes, or what the operator is to be told: that it is missing or cannot be
// read.
std::optional<Message> load(const std::filesystem::path& file, std::string& bytes) {
  if (const auto error = read_whole_file(file, bytes)) {
    if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
      return file_not_found_message(file);
    }
    return file_failure_message(file, "read", error);
  }
  return std::nullopt;
}

// The value of `key` in `section` of the file's `bytes` as read_value gives it back;
// `profile` holds the file's decoded form once a value needed it.
std::string stored_value(std::string_view bytes, std::optional<ProfileFile>& profile,
                         std::string_view section, std::string_view key) {
  // ASCII is the same in every 8-bit form the file may take, and an ASCII name can only
  // match ASCII, so the whole file is examined for its encoding only when a name or the
  // value holds other characters, or when the file is UTF-16.
  if (!FileEncoding::is_utf16_file(bytes) && is_ascii(section) && is_ascii(key)) {
    const auto value = profile_value(FileEncoding::body(bytes), section, key);
    if (!value) return {};
    const std::string_view stored = value->substr(0, value->find('\0'));
    if (is_ascii(stored)) return std::string(stored.substr(0, ProfileStore::read_limit));
  }
  if (!profile) profile.emplace(bytes);
  const FileEncoding& encoding = profile->encoding;
  const auto value = profile_value(profile->text, encoding.encode(section), encoding.encode(key),
                                   encoding.char_length());
  if (!value) return {};
  const std::string_view stored = value->substr(0, value->find('\0'));
  return encoding.decode(encoding.cut(stored, ProfileStore::read_limit));
}

}  // namespace

ReadOutcome ProfileStore::read_value(const std::filesystem::path& file, std::string_view section,
                                     std::string_view key) {
  std::string bytes;
  if (auto error = load(file, bytes)) return {{}, std::move(error)};
  std::optional<ProfileFile> profile;
  return {stored_value(bytes, profile, section, key), std::nullopt};
}

ReadValues ProfileStore::read_values(const std::filesystem::path& file, std::string_view section,
                                     std::span<const std::string> keys) {
  ReadValues read;
  read.values.resize(keys.size());
  std::string bytes;
  if (auto error = load(file, bytes)) {
    read.error = std::move(error);
    return read;
  }
  std::optional<ProfileFile> profile;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    read.values[i] = stored_value(bytes, profile, section, keys[i]);
  }
  return read;
}

WriteOutcome ProfileStore::write_value(const std::filesystem::path& file, std::string_view section,
                                       std::string_view key, std::string_view value) {
  if (!file_is_present(file)) return {false, file_not_found_message(file)};
  // Another program may be renaming in the same file: the file read here must be the
  // one this write replaces, or that program's rename would be undone.
  const NameFileLock lock(file, lock_patience_);
  if (!lock.may_write()) {
    return {false, lock_failure_message(file, "written", lock, lock_patience_)};
  }
  std::string bytes;
  if (auto error = load(file, bytes)) return {false, std::move(error)};
  // A line break would let the text start lines of its own in the file.
  if (has_line_break(section) || has_line_break(key) || has_line_break(value)) return {};

  const ProfileFile profile(bytes);
  const FileEncoding& encoding = profile.encoding;
  // A character the file cannot hold would be stored as '?': the name is refused
  // instead, so that what is stored is what the operator typed.
  for (const std::string_view text : {section, key, value}) {
    if (encoding.first_missing_character(text)) return {};
  }
  if (!profile.exact) {
    return {false, write_refused_message(file,
                                         "it holds UTF-16 text that does not convert, "
                                         "which a write would damage")};
  }
  const std::string file_section = encoding.encode(section);
  const std::string file_key = encoding.encode(key);
  const std::string file_value = encoding.encode(value);
  const CharLength char_length = encoding.char_length();
  const auto current = profile_value(profile.text, file_section, file_key, char_length);
  if (current && *current == file_value) return {true, std::nullopt};
  // Only the key's line changes; the file keeps its encoding and every other byte.
  const std::string edited = encoding.file_bytes(
      with_profile_value(profile.text, file_section, file_key, file_value, char_length));
  if (FileEncoding::detect(edited).form() != encoding.form() && !is_ascii(edited)) {
    // The name's bytes would make the file read in the other encoding, and every other
    // name with it: nothing is written. A file left with ASCII alone reads the same in
    // every encoding, so renaming the last Chinese name of a UTF-8 file is no change.
    return {false,
            write_refused_message(file, "the name would change how the file's characters read")};
  }
  if (const auto error = replace_file_atomically(file, edited)) {
    return {false, file_failure_message(file, "written", error)};
  }
  return {true, std::nullopt};
}

std::optional<std::string> ProfileStore::unstorable_character(const std::filesystem::path& file,
                                                              std::string_view text) {
  std::string bytes;
  if (read_whole_file(file, bytes)) bytes.clear();
  return FileEncoding::detect(bytes).first_missing_character(text);
}

auto ProfileStore::length_beyond_read_limit(const std::filesystem::path& file,
                                            std::string_view text) -> std::optional<StoredLength> {
  std::string bytes;
  if (read_whole_file(file, bytes)) bytes.clear();
  const FileEncoding encoding = FileEncoding::detect(bytes);
  const std::string stored = encoding.encode(text);
  if (encoding.cut(stored, read_limit).size() == stored.size()) return std::nullopt;
  if (!encoding.is_utf16()) return StoredLength{stored.size(), false};
  std::size_t units = 0;
  for (std::size_t pos = 0; pos < stored.size(); ++pos) {
    if ((static_cast<unsigned char>(stored[pos]) & 0xC0) != 0x80) units += utf16_units(stored, pos);
  }
  return StoredLength{units, true};
}

namespace {

// "[section]", built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) inside
// operator+ on a short literal and a string.
std::string header_line(std::string_view section) {
  std::string line;
  line.reserve(section.size() + 2);
  line.append(1, '[').append(section).append(1, ']');
  return line;
}

}  // namespace

SectionOutcome ProfileStore::has_section_line(const std::filesystem::path& file,
                                              std::string_view section) {
  std::string bytes;
  if (auto error = load(file, bytes)) return {false, std::move(error)};
  if (!FileEncoding::is_utf16_file(bytes) && is_ascii(section)) {
    return {has_exact_line(FileEncoding::body(bytes), header_line(section)), std::nullopt};
  }
  const ProfileFile profile(bytes);
  return {has_exact_line(profile.text, header_line(profile.encoding.encode(section))),
          std::nullopt};
}
