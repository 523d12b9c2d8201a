// The name file on disk: the input becomes name.txt, the program starts on it, loads
// names and renames relays through ProfileStore, and the file must stay what the start-up
// and each write promise:
//   - a file with the "[address 0]" line is left byte for byte by the start-up;
//   - any other is set up again, its old non-empty content kept in a new backup;
//   - a value written reads back, cut to 254 bytes of the file's code page;
//   - a write that fails leaves the file as it was.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/board_limits.h"
#include "common/text_number.h"
#include "fuzz_input.h"
#include "invariant.h"
#include "names/default_name_text.h"
#include "names/name_file.h"
#include "names/profile_store.h"
#include "recording_message_boxes.h"
#include "reference_utf8.h"
#include "text/ansi_code_page.h"
#include "text/file_encoding.h"

namespace {

constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";

// One folder for the whole run, emptied before each input; in memory where the system
// offers it, since every write of the name file is flushed to disk.
class Folder {
 public:
  Folder() {
    std::error_code error;
    const std::filesystem::path shm = "/dev/shm";
    const bool in_memory =
        std::filesystem::is_directory(shm, error) && ::access("/dev/shm", W_OK) == 0;
    std::string pattern =
        ((in_memory ? shm : std::filesystem::temp_directory_path()) / "relay_fuzz_XXXXXX").string();
    require(::mkdtemp(pattern.data()) != nullptr, "a temporary folder can be made", pattern);
    path_ = pattern;
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  void empty() {
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      std::filesystem::remove_all(entry.path());
    }
  }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::string read_bytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream(file, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

constexpr std::string_view utf16le_bom = "\xFF\xFE";

// The ASCII of a UTF-16LE body, one byte per code unit; every other unit stands as
// 80, which no line the program looks for holds.
std::string ascii_of_utf16le(std::string_view body) {
  std::string text;
  for (std::size_t pos = 0; pos + 1 < body.size(); pos += 2) {
    const bool ascii = static_cast<unsigned char>(body[pos]) < 0x80 && body[pos + 1] == 0;
    text += ascii ? body[pos] : '\x80';
  }
  return text;
}

// Whether one line of the text, after a byte-order mark, is exactly `line` (ASCII). The
// first mark decides: FF FE after a UTF-8 mark are two bytes of UTF-8 text (invalid ones),
// so a UTF-16 body there holds no line of ASCII.
bool has_line(std::string_view bytes, std::string_view line) {
  std::string utf16_text;
  if (bytes.starts_with(utf8_bom)) {
    bytes.remove_prefix(utf8_bom.size());
  } else if (bytes.starts_with(utf16le_bom)) {
    utf16_text = ascii_of_utf16le(bytes.substr(utf16le_bom.size()));
    bytes = utf16_text;
  }
  std::size_t pos = 0;
  while (pos <= bytes.size()) {
    const std::size_t end = std::min(bytes.find_first_of("\r\n", pos), bytes.size());
    if (bytes.substr(pos, end - pos) == line) return true;
    if (end == bytes.size()) break;
    pos = end + (bytes.substr(end, 2) == "\r\n" ? 2 : 1);
  }
  return false;
}

// What reading a written value gives: the text as the file can hold it (undecodable
// bytes become U+FFFD), up to a NUL, then as many whole characters as fit in 254 units
// of the file's encoding: bytes of the code page or of UTF-8, UTF-16 code units.
std::string expected_read_back(std::string_view value, const FileEncoding& encoding) {
  std::string text = reference_utf8::sanitized(value);
  text.resize(std::min(text.size(), text.find('\0')));
  std::string out;
  std::size_t used = 0;
  for (std::string_view c : reference_utf8::chars(text)) {
    std::size_t units = c.size();
    if (encoding.is_utf16()) {
      units = c.size() == 4 ? 2 : 1;
    } else if (!encoding.is_utf8() && c.size() > 1) {
      units = utf8_to_ansi(c).size();
    }
    if (used + units > 254) break;
    used += units;
    out += c;
  }
  return out;
}

// Names and values as the rename dialog and hand edits produce them, and some that no
// dialog can: line breaks, which every write must refuse.
const std::string_view pieces[] = {
    "pump", " ",  "\t",   "\"",
    "'",    "=",  ";",    "#",
    "[",    "]",  "x",    "7",
    "中",   "泵", "模",   "€",
    "é",    "ģ",  "𠀀",   "\xEF\xBF\xBD",
    "\r",   "\n", "\r\n", std::string_view("\0", 1),
};

// Raw bytes in any encoding, or up to `most` pieces.
std::string text_from(FuzzInput& input, std::size_t most) {
  const std::uint8_t how = input.byte();
  if (how & 1) return std::string(input.text(input.byte()));
  const std::size_t length = input.byte() % most;
  std::string text;
  // Repeated pieces make values that run past the 254-byte limit, cutting characters.
  const int repeat = how & 2 ? 40 : 1;
  for (std::size_t i = 0; i < length; ++i) {
    const std::string_view piece = pieces[input.byte() % std::size(pieces)];
    for (int r = 0; r < repeat; ++r) text += piece;
  }
  return text;
}

std::string section_from(FuzzInput& input) {
  const std::uint8_t choice = input.byte();
  switch (choice % 4) {
    case 0:
      return "address " + number_to_text(input.byte());
    case 1:
      return "Software properties";
    case 2:
      return "address " + text_from(input, 6);
    default:
      return text_from(input, 8);
  }
}

std::string key_from(FuzzInput& input) {
  const std::uint8_t choice = input.byte();
  switch (choice % 4) {
    case 0:
    case 1:
      return "relay" + number_to_text(1 + choice / 4 % 16) + "name";
    case 2:
      return "The name";
    default: {
      // A key that reads as another key, a comment or a header is none the program
      // writes (see profile_text_fuzz.cpp); line breaks stay, to be refused.
      std::string key = text_from(input, 6);
      for (char& c : key) {
        if (c == '=') c = '-';
      }
      const std::size_t first = key.find_first_not_of(" \t");
      if (first != std::string::npos && (key[first] == ';' || key[first] == '[')) key[first] = '_';
      return key;
    }
  }
}

class NoteView : public NameView {
 public:
  void set_window_caption(const std::string& caption) override { captions.push_back(caption); }
  void set_name_label(int relay, const std::string& name) override { labels[relay] = name; }
  std::vector<std::string> captions;
  std::map<int, std::string> labels;
};

bool has_line_break(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

void start_up(const std::filesystem::path& path, const std::filesystem::path& backup,
              std::string_view before, bool older_backup, const std::string& typed_address,
              ProfileStore& profile_store, RecordingMessageBoxes& messages) {
  NoteView view;
  NameFile names(path, profile_store, messages, view);
  const std::string detail = hex_dump(before, 200);
  names.open_or_create();
  require(view.captions.size() == 1, "the start-up sets the caption once", detail);
  if (has_line(before, "[address 0]")) {
    require(read_bytes(path) == before, "a set-up file is left byte for byte", detail);
    require(messages.shown.empty(), "a set-up file starts without a word", detail);
  } else {
    static const std::string default_text = default_name_text();
    require(read_bytes(path) == default_text, "any other file is set up again", detail);
    const Message created{"name file created", "", MessageIcon::None};
    require(messages.shown == std::vector<Message>{created}, "the operator is told once", detail);
  }
  // An older backup is never written over: the new one takes the next name.
  std::filesystem::path new_backup = backup;
  if (older_backup) new_backup += ".1";
  if (!has_line(before, "[address 0]") && !before.empty()) {
    require(read_bytes(new_backup) == before, "the old content is kept in a new backup", detail);
  } else {
    require(!std::filesystem::exists(new_backup), "no backup is made", detail);
  }
  if (older_backup) {
    require(read_bytes(backup) == "an older backup", "an older backup is left alone", detail);
  }
  messages.shown.clear();

  for (const std::string& address : {std::string("0"), typed_address}) {
    names.load_names(address);
    require(view.labels.size() == relay_count, "the 16 labels are filled", address);
  }
  require(messages.shown.empty(), "loading names from a present file says nothing", detail);
}

void write_and_read_back(const std::filesystem::path& path, const std::string& section,
                         const std::string& key, const std::string& value,
                         ProfileStore& profile_store, RecordingMessageBoxes& messages) {
  const std::string before = read_bytes(path);
  // Appended rather than added up: GCC 12 at -O3 warns falsely on "x" + std::string.
  const std::string detail = std::string("[")
                                 .append(hex_dump(section))
                                 .append("] <")
                                 .append(hex_dump(key))
                                 .append("> = <")
                                 .append(hex_dump(value))
                                 .append("> in ")
                                 .append(hex_dump(before, 120));
  const WriteOutcome outcome = profile_store.write_value(path, section, key, value);
  const bool written = outcome.written;
  // The store only reports; the window would show this one message.
  if (outcome.error) messages.show(*outcome.error);
  const std::string after = read_bytes(path);
  if (has_line_break(section) || has_line_break(key) || has_line_break(value)) {
    require(!written, "a line break is refused", detail);
  }
  const FileEncoding encoding = FileEncoding::detect(before);
  const bool ascii_after = std::all_of(after.begin(), after.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  require(FileEncoding::detect(after).form() == encoding.form() || ascii_after,
          "a write never changes the file's encoding (ASCII reads the same in every one)",
          detail + "\nto " + hex_dump(after, 120));
  if (!written) {
    require(after == before, "a failed write leaves the file as it was", detail);
    // Refused because the name would change how the file reads: said so, once.
    require(messages.shown.empty() ||
                (messages.shown.size() == 1 && messages.shown[0].caption == "File Error"),
            "a refused write says at most why", detail);
    messages.shown.clear();
    return;
  }
  require(messages.shown.empty(), "a write on a present file says nothing", detail);
  const std::string want = expected_read_back(value, encoding);
  const ReadOutcome read = profile_store.read_value(path, section, key);
  if (read.error) messages.show(*read.error);
  const std::string& got = read.value;
  require(got == want, "a written value reads back, cut to 254 bytes",
          detail + "\nread " + hex_dump(got) + "\nwant " + hex_dump(want));
  // The exact line test of the start-up sees what the write added, for the
  // program's own ASCII section names.
  bool ascii_section = std::all_of(section.begin(), section.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii_section) {
    const SectionOutcome has = profile_store.has_section_line(path, section);
    if (has.error) messages.show(*has.error);
    require(has.present == has_line(after, "[" + section + "]"),
            "has_section_line is the exact line test", detail);
  }
  require(messages.shown.empty(), "reading a present file says nothing", detail);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Folder folder;
  folder.empty();
  const auto path = folder / "name.txt";
  const auto backup = folder / "name.txt.bak";

  FuzzInput input(data, size);
  const std::uint8_t plan = input.byte();
  const bool older_backup = plan & 1;
  const int writes_before = plan >> 1 & 3;  // on the file as given, before the start-up
  const int writes_after = plan >> 3 & 3;   // on the file the start-up left
  const std::string typed_address(input.text(input.byte() % 8));
  struct Write {
    std::string section, key, value;
  };
  std::vector<Write> writes;
  for (int i = 0; i < writes_before + writes_after; ++i) {
    Write write;
    write.section = section_from(input);
    write.key = key_from(input);
    write.value = text_from(input, 12);
    writes.push_back(std::move(write));
  }
  const std::string_view content = input.rest();

  RecordingMessageBoxes messages;
  ProfileStore profile_store;
  write_bytes(path, content);
  if (older_backup) write_bytes(backup, "an older backup");

  for (int i = 0; i < writes_before; ++i) {
    const Write& w = writes[static_cast<std::size_t>(i)];
    write_and_read_back(path, w.section, w.key, w.value, profile_store, messages);
  }
  start_up(path, backup, read_bytes(path), older_backup, typed_address, profile_store, messages);
  for (std::size_t i = static_cast<std::size_t>(writes_before); i < writes.size(); ++i) {
    write_and_read_back(path, writes[i].section, writes[i].key, writes[i].value, profile_store,
                        messages);
  }

  // A file deleted while the program runs: the write fails, creates nothing, and says so.
  const auto missing = folder / "missing.txt";
  const WriteOutcome missing_write =
      profile_store.write_value(missing, "address 1", "relay1name", "pump");
  require(!missing_write.written, "a write to a missing file fails");
  require(!std::filesystem::exists(missing), "a failed write creates no file");
  require(missing_write.error && missing_write.error->caption == "File Not Found",
          "a missing file is reported");
  return 0;
}
