#include "names/profile_store.h"

#include "names/disk_file.h"
#include "names/file_encoding.h"
#include "names/file_messages.h"
#include "names/profile_text.h"
#include "names/utf16.h"
#include "names/utf8.h"

namespace {

bool has_line_break(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// A directory or a dangling path is not the file; anything else the system will not
// even look at is left to the read, which then reports the system's reason.
bool file_is_present(const std::filesystem::path& file) {
  std::error_code error;
  const auto status = std::filesystem::status(file, error);
  if (std::filesystem::is_regular_file(status)) return true;
  return error && error != std::errc::no_such_file_or_directory &&
         error != std::errc::not_a_directory;
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

}  // namespace

std::optional<std::string> ProfileStore::load(const std::filesystem::path& file) {
  if (!file_is_present(file)) {
    messages_.show(file_not_found_message(file));
    return std::nullopt;
  }
  std::string bytes;
  if (const auto error = read_whole_file(file, bytes)) {
    messages_.show(file_failure_message(file, "read", error));
    return std::nullopt;
  }
  return bytes;
}

std::string ProfileStore::read_value(const std::filesystem::path& file, std::string_view section,
                                     std::string_view key) {
  const auto bytes = load(file);
  if (!bytes) return {};
  // ASCII is the same in every 8-bit form the file may take, and an ASCII name can only
  // match ASCII, so the whole file is examined for its encoding only when a name or the
  // value holds other characters, or when the file is UTF-16.
  const std::string_view body = FileEncoding::body(*bytes);
  if (!FileEncoding::is_utf16_file(*bytes) && is_ascii(section) && is_ascii(key)) {
    const auto value = profile_value(body, section, key);
    if (!value) return {};
    const std::string_view stored = value->substr(0, value->find('\0'));
    if (is_ascii(stored)) return std::string(stored.substr(0, read_limit));
  }
  const ProfileFile profile(*bytes);
  const FileEncoding& encoding = profile.encoding;
  const auto value = profile_value(profile.text, encoding.encode(section), encoding.encode(key),
                                   encoding.char_length());
  if (!value) return {};
  const std::string_view stored = value->substr(0, value->find('\0'));
  return encoding.decode(encoding.cut(stored, read_limit));
}

std::int32_t ProfileStore::write_value(const std::filesystem::path& file, std::string_view section,
                                       std::string_view key, std::string_view value) {
  if (!file_is_present(file)) {
    messages_.show(file_not_found_message(file));
    return 0;
  }
  // Another program may be renaming in the same file: the file read here must be the
  // one this write replaces, or that program's rename would be undone.
  const NameFileLock lock(file, lock_patience_);
  if (!lock.may_write()) {
    messages_.show(lock_failure_message(file, "written", lock, lock_patience_));
    return 0;
  }
  const auto bytes = load(file);
  if (!bytes) return 0;
  // A line break would let the text start lines of its own in the file.
  if (has_line_break(section) || has_line_break(key) || has_line_break(value)) return 0;

  const ProfileFile profile(*bytes);
  const FileEncoding& encoding = profile.encoding;
  // A character the file cannot hold would be stored as '?': the name is refused
  // instead, so that what is stored is what the operator typed.
  for (const std::string_view text : {section, key, value}) {
    if (encoding.first_missing_character(text)) return 0;
  }
  if (!profile.exact) {
    messages_.show(write_refused_message(
        file, "it holds UTF-16 text that does not convert, which a write would damage"));
    return 0;
  }
  const std::string file_section = encoding.encode(section);
  const std::string file_key = encoding.encode(key);
  const std::string file_value = encoding.encode(value);
  const CharLength char_length = encoding.char_length();
  const auto current = profile_value(profile.text, file_section, file_key, char_length);
  if (current && *current == file_value) return 1;
  // Only the key's line changes; the file keeps its encoding and every other byte.
  const std::string edited = encoding.file_bytes(
      with_profile_value(profile.text, file_section, file_key, file_value, char_length));
  if (FileEncoding::detect(edited).form() != encoding.form() && !is_ascii(edited)) {
    // The name's bytes would make the file read in the other encoding, and every other
    // name with it: nothing is written. A file left with ASCII alone reads the same in
    // every encoding, so renaming the last Chinese name of a UTF-8 file is no change.
    messages_.show(
        write_refused_message(file, "the name would change how the file's characters read"));
    return 0;
  }
  if (const auto error = replace_file_atomically(file, edited)) {
    messages_.show(file_failure_message(file, "written", error));
    return 0;
  }
  return 1;
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

bool ProfileStore::has_section_line(const std::filesystem::path& file, std::string_view section) {
  const auto bytes = load(file);
  if (!bytes) return false;
  if (!FileEncoding::is_utf16_file(*bytes) && is_ascii(section)) {
    return has_exact_line(FileEncoding::body(*bytes), header_line(section));
  }
  const ProfileFile profile(*bytes);
  return has_exact_line(profile.text, header_line(profile.encoding.encode(section)));
}
