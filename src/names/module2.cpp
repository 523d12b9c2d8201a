#include "names/module2.h"

#include "names/disk_file.h"
#include "names/file_encoding.h"
#include "names/file_messages.h"
#include "names/profile_text.h"
#include "names/utf8.h"

namespace {

// What a read returns at most, in bytes of the file's code page.
constexpr std::size_t read_limit = 254;

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

// The file's new bytes with the key set, or nothing when it already holds the value.
std::optional<std::string> edited_bytes(std::string_view bytes, const FileEncoding& encoding,
                                        std::string_view section, std::string_view key,
                                        std::string_view value) {
  const std::string_view body = FileEncoding::body(bytes);
  const std::string file_section = encoding.encode(section);
  const std::string file_key = encoding.encode(key);
  const std::string file_value = encoding.encode(value);
  const auto current = profile_value(body, file_section, file_key);
  if (current && *current == file_value) return std::nullopt;
  return std::string(encoding.bom()) + with_profile_value(body, file_section, file_key, file_value);
}

}  // namespace

std::optional<std::string> Module2::load(const std::filesystem::path& file) {
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

std::string Module2::read_ini(const std::filesystem::path& file, std::string_view section,
                              std::string_view key) {
  const auto bytes = load(file);
  if (!bytes) return {};
  // ASCII is the same in every code page the file may use, so the whole file is
  // examined for its code page only when a name or the value holds other characters.
  const std::string_view body = FileEncoding::body(*bytes);
  std::optional<std::string_view> value;
  if (is_ascii(section) && is_ascii(key)) {
    value = profile_value(body, section, key);
  } else {
    const FileEncoding encoding = FileEncoding::detect(*bytes);
    value = profile_value(body, encoding.encode(section), encoding.encode(key));
  }
  if (!value) return {};
  const std::string_view stored = value->substr(0, value->find('\0'));
  if (is_ascii(stored)) return std::string(stored.substr(0, read_limit));
  const FileEncoding encoding = FileEncoding::detect(*bytes);
  return encoding.decode(encoding.cut(stored, read_limit));
}

std::int32_t Module2::write_ini(const std::filesystem::path& file, std::string_view section,
                                std::string_view key, std::string_view value) {
  const auto bytes = load(file);
  if (!bytes) return 0;
  // A line break would let the text start lines of its own in the file.
  if (has_line_break(section) || has_line_break(key) || has_line_break(value)) return 0;

  const FileEncoding encoding = FileEncoding::detect(*bytes);
  // A character the file cannot hold would be stored as '?': the name is refused
  // instead, so that what is stored is what the operator typed.
  for (const std::string_view text : {section, key, value}) {
    if (encoding.first_missing_character(text)) return 0;
  }
  auto edited = edited_bytes(*bytes, encoding, section, key, value);
  if (!edited) return 1;
  if (FileEncoding::detect(*edited).is_utf8() != encoding.is_utf8()) {
    // The new name's code-page bytes happen to form valid UTF-8 and would be read back
    // as other characters: the file is stored as UTF-8 from now on, its text unchanged.
    const std::string text = encoding.decode(FileEncoding::body(*bytes));
    edited = edited_bytes(text, FileEncoding::utf8_without_bom(), section, key, value);
    if (!edited) return 1;
  }
  if (const auto error = replace_file_atomically(file, *edited)) {
    messages_.show(file_failure_message(file, "written", error));
    return 0;
  }
  return 1;
}

std::optional<std::string> Module2::unstorable_character(const std::filesystem::path& file,
                                                         std::string_view text) {
  std::string bytes;
  if (read_whole_file(file, bytes)) bytes.clear();
  return FileEncoding::detect(bytes).first_missing_character(text);
}

bool Module2::section_exists(const std::filesystem::path& file, std::string_view section) {
  const auto bytes = load(file);
  if (!bytes) return false;
  std::string header = "[";
  header.append(is_ascii(section) ? std::string(section)
                                  : FileEncoding::detect(*bytes).encode(section));
  header.append("]");
  return has_exact_line(FileEncoding::body(*bytes), header);
}
