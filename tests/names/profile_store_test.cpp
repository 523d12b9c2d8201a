#include "names/profile_store.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "names/default_name_text.h"
#include "names/name_file_lock.h"
#include "names/profile_text.h"
#include "names_test_support.h"
#include "recording_message_boxes.h"
#include "text/ansi_code_page.h"
#include "told_store.h"

namespace {

using std::filesystem::perms;

const std::string default_file = "[Software properties]\r\nThe name=Corvanti\r\n";

std::string repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(ProfileText, ReadsHandEditedFilesWithAnyLineEndings) {
  const std::string text = read_bytes(fixture("reading_rules.ini"));
  const struct {
    std::string section;
    std::string key;
    std::optional<std::string> value;  // nothing: absent
    Where where = Where::everywhere;
  } lookups[] = {
      {"Software properties", "The name", "Corvanti"},
      {"SOFTWARE properties", "the NAME", "Corvanti"},
      {" Software properties ", " The name ", "Corvanti"},
      {"Spaced Header", "key", "spaced header value"},
      {"Case", "relay1name", "case folded"},
      {"Case", "blank key", "blanks around"},
      {"Case", "empty", ""},
      {"Case", "quoted", "  kept blanks  "},
      {"Case", "single", "single quoted"},
      {"Case", "mismatched", "\"open only"},
      {"Case", "semicolon", "a;b#c"},
      {"Case", "commented", std::nullopt},
      {"Case", ";commented", std::nullopt},
      {"Case", "no equals line", std::nullopt},
      {"Case", "[no closing bracket", "not a header"},
      {"Case", "dup", "first"},
      {"case", "other", std::nullopt},
      {"Case", "absent", std::nullopt},
      // Second bytes of double-byte characters: no ASCII letters that fold.
      {"GBK", "\x81\x41", "upper", Where::chinese},
      {"GBK", "\x81\x61", "lower", Where::chinese},
      {"Endings", "k1", "v1"},
      {"Endings", "k2", "v2"},
      {"Endings", "k3", "v3"},
      {"last", "end", "no final newline"},
      {"Missing", "end", std::nullopt},
      {"", "orphan", std::nullopt},
  };
  for (const auto& lookup : lookups) {
    if (!applies(lookup.where)) continue;
    SCOPED_TRACE("[" + lookup.section + "] " + lookup.key);
    const auto value = profile_value(text, lookup.section, lookup.key, ansi_char_length);
    EXPECT_EQ(value ? std::optional<std::string>(*value) : std::nullopt, lookup.value);
  }
}

TEST(ProfileText, WrittenValuesReadBackAsGiven) {
  for (const std::string value : {"", "pump", " pump", "pump\t", "\"pump\"", "'pump'", "\"", "a=b",
                                  "; not a comment", "[not a header]"}) {
    SCOPED_TRACE("value <" + value + ">");
    const std::string text =
        with_profile_value("[address 1]\r\n", "address 1", "relay1name", value);
    EXPECT_EQ(profile_value(text, "address 1", "relay1name"), value);
    EXPECT_EQ(with_profile_value(text, "address 1", "relay1name", value), text);
  }
}

class ProfileStoreTest : public ::testing::Test {
 protected:
  std::filesystem::path file(const std::string& bytes, const std::string& name = "name.txt") {
    write_bytes(folder / name, bytes);
    return folder / name;
  }

  TempFolder folder;
  RecordingMessageBoxes messages;
  ToldStore profile_store{messages};
};

TEST_F(ProfileStoreTest, OnlyAMissingFileIsReportedAndEmptyValuesAndKeysReadEmpty) {
  const auto missing = folder / "missing.txt";
  const Message expected{missing.string() + " not found.", "File Not Found", MessageIcon::Critical};
  EXPECT_EQ(profile_store.read_value(missing, "address 1", "relay1name"), "");
  EXPECT_FALSE(profile_store.write_value(missing, "address 1", "relay1name", "pump"));
  EXPECT_FALSE(profile_store.has_section_line(missing, "address 0"));
  const auto empty = file("", "empty.txt");
  EXPECT_FALSE(profile_store.has_section_line(empty, "address 0"));
  EXPECT_EQ(profile_store.read_value(empty, "address 0", "relay1name"), "");
  const auto path = file("[address 1]\r\nrelay1name=\r\n");
  EXPECT_EQ(profile_store.read_value(path, "address 1", "relay1name"), "");
  EXPECT_EQ(profile_store.read_value(path, "address 1", "relay2name"), "");
  EXPECT_EQ(profile_store.read_value(path, "address 2", "relay1name"), "");
  EXPECT_EQ(messages.shown, (std::vector<Message>{expected, expected, expected}));
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"empty.txt", "name.txt"}));
}

// The store itself shows nothing: each call gives back what the operator is to be told,
// and a write refused for its text alone gives back no message, which the rename's own
// checks explain beforehand.
TEST(ProfileStoreOutcome, ErrorsComeBackAndTextRefusalsComeBackWithoutAMessage) {
  TempFolder folder;
  ProfileStore profile_store;
  const auto missing = folder / "missing.txt";
  const Message not_found{missing.string() + " not found.", "File Not Found",
                          MessageIcon::Critical};
  EXPECT_EQ(profile_store.read_value(missing, "address 1", "relay1name").error, not_found);
  EXPECT_EQ(profile_store.has_section_line(missing, "address 1").error, not_found);
  const WriteOutcome missing_write = profile_store.write_value(missing, "a", "k", "v");
  EXPECT_FALSE(missing_write.written);
  EXPECT_EQ(missing_write.error, not_found);

  const auto path = folder / "name.txt";
  write_bytes(path, "[address 1]\r\nrelay1name=pump\r\n");
  const ReadOutcome read = profile_store.read_value(path, "address 1", "relay1name");
  EXPECT_EQ(read.value, "pump");
  EXPECT_EQ(read.error, std::nullopt);
  const WriteOutcome line_break =
      profile_store.write_value(path, "address 1", "relay1name", "a\nb");
  EXPECT_FALSE(line_break.written);
  EXPECT_EQ(line_break.error, std::nullopt);
  const WriteOutcome written = profile_store.write_value(path, "address 1", "relay1name", "valve");
  EXPECT_TRUE(written.written);
  EXPECT_EQ(written.error, std::nullopt);
}

// Values are written whole and read back cut to 254 bytes of the file's code page,
// dropping a character cut by the limit.
TEST_F(ProfileStoreTest, LongValuesAreKeptWholeAndReadCutTo254Bytes) {
  const std::string zhong_gb = "\xD6\xD0";         // 中 in GB18030
  const std::string rare_gb = "\x95\x32\x82\x36";  // 𠀀, four bytes in GB18030
  const std::string utf8_file = "[address 0]\r\nrelay1name=泵\r\n";
  const struct {
    std::string start;  // the file before the write decides its code page
    std::string name;
    std::string read_back;
    std::string stored;  // the name's bytes in the file
    Where where = Where::everywhere;
  } cases[] = {
      {default_file, std::string(254, 'x'), std::string(254, 'x'), std::string(254, 'x')},
      {default_file, std::string(255, 'x'), std::string(254, 'x'), std::string(255, 'x')},
      {default_file, std::string(300, 'x'), std::string(254, 'x'), std::string(300, 'x')},
      {default_file, repeat("中", 127), repeat("中", 127), repeat(zhong_gb, 127), Where::chinese},
      {default_file, repeat("中", 150), repeat("中", 127), repeat(zhong_gb, 150), Where::chinese},
      {default_file, std::string("a").append(repeat("中", 127)),
       std::string("a").append(repeat("中", 126)), std::string("a").append(repeat(zhong_gb, 127)),
       Where::chinese},
      {default_file, repeat("中", 126) + "𠀀x", repeat("中", 126),
       repeat(zhong_gb, 126) + rare_gb + "x", Where::chinese},
      {utf8_file, repeat("中", 85), repeat("中", 84), repeat("中", 85), Where::unmarked_utf8},
      {default_file, repeat("é", 300), repeat("é", 254), std::string(300, '\xE9'), Where::western},
  };
  for (const auto& c : cases) {
    if (!applies(c.where)) continue;
    SCOPED_TRACE(&c - cases);
    const auto path = file(c.start);
    ASSERT_TRUE(profile_store.write_value(path, "address 1", "relay1name", c.name));
    EXPECT_EQ(read_bytes(path), c.start + "[address 1]\r\nrelay1name=" + c.stored + "\r\n");
    EXPECT_EQ(profile_store.read_value(path, "address 1", "relay1name"), c.read_back);
  }
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(ProfileStoreTest, NameWhoseCodePageBytesLookLikeUtf8StillReadsBack) {
  if (!chinese_code_page()) GTEST_SKIP() << "names of code page 936 only";
  // 模 is C4 A3 in GB18030, which is also the UTF-8 form of ģ.
  for (const std::string& start : {default_file, read_bytes(fixture("gb18030.ini"))}) {
    const auto path = file(start);
    const std::string before = profile_store.read_value(path, "address 1", "relay1name");
    ASSERT_TRUE(profile_store.write_value(path, "address 1", "relay2name", "模"));
    EXPECT_EQ(profile_store.read_value(path, "address 1", "relay2name"), "模");
    EXPECT_EQ(profile_store.read_value(path, "address 1", "relay1name"), before);
    ASSERT_TRUE(profile_store.write_value(path, "address 1", "relay1name", "模"));
    EXPECT_EQ(profile_store.read_value(path, "address 1", "relay1name"), "模");
  }
  // 80 is the euro sign of code page 936; FF and a cut-off 81 do not decode.
  EXPECT_EQ(profile_store.read_value(fixture("damaged.ini"), "address 1", "relay1name"),
            "a€b\uFFFD泵\uFFFD");
}

TEST_F(ProfileStoreTest, WritesChangeOnlyTheirLine) {
  const struct {
    std::string fixture;
    std::string value;
    Where where = Where::everywhere;
  } cases[] = {
      {"replace_in_place", "pump"},
      {"append_last_section_no_newline", "pump"},
      {"append_middle_section", "pump"},
      {"append_empty_section", "pump"},
      {"new_section", "pump"},
      {"new_section_lf_no_newline", "pump"},
      {"lf_only", "pump"},
      {"mixed_endings", "pump"},
      {"duplicate_sections", "pump"},
      {"quoted_value", " pump "},
      {"ascii", "继电器", Where::chinese},
      {"gb18030", "继电器", Where::chinese},
      {"utf8_plain", "继电器", Where::unmarked_utf8},
      {"utf8_bom", "继电器"},
  };
  for (const auto& c : cases) {
    if (!applies(c.where)) continue;
    SCOPED_TRACE(c.fixture);
    const auto path = file(read_bytes(fixture(c.fixture + ".ini")));
    ASSERT_TRUE(profile_store.write_value(path, "address 1", "relay2name", c.value));
    EXPECT_EQ(read_bytes(path), read_bytes(fixture(c.fixture + ".expected.ini")));
    EXPECT_EQ(profile_store.read_value(path, "address 1", "relay2name"), c.value);
  }
  EXPECT_EQ(folder.names(), std::vector<std::string>{"name.txt"});
}

TEST_F(ProfileStoreTest, LineBreaksAreRefused) {
  const auto path = file(default_file);
  EXPECT_FALSE(profile_store.write_value(path, "address 1", "relay1name", "a\r\nrelay2name=b"));
  EXPECT_FALSE(profile_store.write_value(path, "address 1", "relay1name", "a\n"));
  EXPECT_FALSE(profile_store.write_value(path, "address 1", "relay1name", "\r"));
  EXPECT_FALSE(profile_store.write_value(path, "address 1\n[x]", "relay1name", "a"));
  EXPECT_FALSE(profile_store.write_value(path, "address 1", "relay1name\rx", "a"));
  EXPECT_EQ(read_bytes(path), default_file);
  EXPECT_TRUE(messages.shown.empty());
}

// Characters the file's code page has no bytes for (a few private-use ones in GB18030,
// every Chinese one in code page 1252): the name is refused whole and the character
// named, rather than stored as '?'. A file with a byte-order mark holds everything.
TEST_F(ProfileStoreTest, CharactersTheFileCannotHoldAreRefusedAndNamed) {
  const auto code_page_file = file(default_file);
  const auto utf8_file = file("\xEF\xBB\xBF[address 0]\r\nrelay1name=泵\r\n", "utf8.txt");
  const struct {
    std::string text;
    std::optional<std::string> missing;
    Where where;
  } cases[] = {
      // Code page 936 has always had these two, which GB18030-2005 gave up.
      {"泵\uE78D\uE7C7x", ansi_code_page() == 0 ? "\uE78D" : std::optional<std::string>(),
       Where::chinese},
      {"泵€𠀀\uE000pump", std::nullopt, Where::chinese},
      {"Pumpe \u00C4 €", std::nullopt, Where::western},
      {"Pumpe 泵", "泵", Where::western},
      {"€𠀀", "𠀀", Where::western},
  };
  for (const auto& c : cases) {
    if (!applies(c.where)) continue;
    SCOPED_TRACE(c.text);
    EXPECT_EQ(profile_store.unstorable_character(code_page_file, c.text), c.missing);
    EXPECT_EQ(profile_store.unstorable_character(utf8_file, c.text), std::nullopt);
    const bool stored = !c.missing;
    EXPECT_EQ(profile_store.write_value(code_page_file, "address 1", "relay1name", c.text), stored);
    EXPECT_EQ(profile_store.write_value(code_page_file, "address" + c.text, "relay1name", "a"),
              stored);
    if (!c.missing) {
      EXPECT_EQ(profile_store.read_value(code_page_file, "address 1", "relay1name"), c.text);
    }
    ASSERT_TRUE(profile_store.write_value(utf8_file, "address 0", "relay1name", c.text));
    EXPECT_EQ(profile_store.read_value(utf8_file, "address 0", "relay1name"), c.text);
    write_bytes(code_page_file, default_file);
  }
  EXPECT_TRUE(messages.shown.empty());
}

// ASCII letters fold wherever they stand in a name, also after a Chinese character;
// the second byte of a double-byte character never does (GBK 81 41 and 81 61 differ).
TEST_F(ProfileStoreTest, LettersFoldAfterChineseCharactersButSecondBytesDoNot) {
  const std::string gbk_upper = "\x81\x41";  // two characters that differ only in the
  const std::string gbk_lower = "\x81\x61";  // case their second byte would have in ASCII
  if (!chinese_code_page()) GTEST_SKIP() << "names of code page 936 only";
  const struct {
    std::string label;
    std::string start;
    Where where;
  } files[] = {
      {"code page 936",
       "[\xB5\xD8\xD6\xB7"
       "A]\r\nRelay\xB1\xC3X=one\r\n",
       Where::chinese},  // [地址A] Relay泵X
      {"UTF-8", "[地址A]\r\nRelay泵X=one\r\n", Where::unmarked_utf8},
      {"UTF-8 with a mark", "\xEF\xBB\xBF[地址A]\r\nRelay泵X=one\r\n", Where::everywhere},
  };
  for (const auto& f : files) {
    if (!applies(f.where)) continue;
    SCOPED_TRACE(f.label);
    const auto path = file(f.start);
    EXPECT_EQ(profile_store.read_value(path, "地址a", "relay泵x"), "one");
    ASSERT_TRUE(profile_store.write_value(path, "地址a", "RELAY泵X", "two"));
    EXPECT_EQ(profile_store.read_value(path, "地址A", "Relay泵X"), "two");
    EXPECT_EQ(read_bytes(path).size(), f.start.size());  // no second section, no new key
  }
  const auto path = file("[k]\r\n" + gbk_upper + "=upper\r\n");
  const std::string upper = "\u4E04";  // 81 41
  const std::string lower = "\u4E64";  // 81 61
  EXPECT_EQ(profile_store.read_value(path, "k", lower), "");
  ASSERT_TRUE(profile_store.write_value(path, "k", lower, "lower"));
  EXPECT_EQ(read_bytes(path), "[k]\r\n" + gbk_upper + "=upper\r\n" + gbk_lower + "=lower\r\n");
  EXPECT_EQ(profile_store.read_value(path, "K", upper), "upper");
  EXPECT_TRUE(messages.shown.empty());
}

// The euro sign is 80 in code pages 936 and 1252, where a Windows reader looks for it.
TEST_F(ProfileStoreTest, EuroSignIsWrittenAsCodePage936Has) {
  const std::string name = chinese_code_page() ? "泵€5" : "Pumpe €5";
  const std::string stored = chinese_code_page() ? "\xB1\xC3\x80"
                                                   "5"
                                                 : "Pumpe \x80"
                                                   "5";
  const auto path = file(default_file);
  ASSERT_TRUE(profile_store.write_value(path, "address 1", "relay1name", name));
  EXPECT_EQ(read_bytes(path), default_file + "[address 1]\r\nrelay1name=" + stored + "\r\n");
  EXPECT_EQ(profile_store.read_value(path, "address 1", "relay1name"), name);
}

// A name whose bytes would make the file read in the other encoding, and every other
// name with it, is not written; the operator is told so and nothing is lost.
TEST_F(ProfileStoreTest, WriteThatWouldChangeTheFileEncodingIsRefused) {
  // E4 80 and 81 40 in GBK; together also E4 80 81, well-formed UTF-8.
  const std::string gbk_like_utf8 = "\u92E9\u4E02";
  if (!unmarked_utf8_files) {
    // Every file without a mark is in the system's code page here: no name changes how
    // the file reads, and this one is stored like any other.
    if (!chinese_code_page()) GTEST_SKIP() << "names of code page 936 only";
    const auto path = file(default_file);
    ASSERT_TRUE(profile_store.write_value(path, "address 1", "relay1name", gbk_like_utf8 + "@"));
    EXPECT_EQ(read_bytes(path), default_file + "[address 1]\r\nrelay1name=\xE4\x80\x81\x40@\r\n");
    EXPECT_EQ(profile_store.read_value(path, "address 1", "relay1name"), gbk_like_utf8 + "@");
    EXPECT_TRUE(messages.shown.empty());
    return;
  }
  const struct {
    std::string label;
    std::string start;
    std::string value;
  } cases[] = {
      {"code page file to UTF-8", default_file, gbk_like_utf8 + "@"},
      // E4 B8 A2 E4 B8 A1 pairs up into GB2312 characters (涓, A2 E4, 浮), and 両 is
      // none: the file's one name would read as code page 936
      {"UTF-8 file to the code page", "[address 1]\r\nrelay1name=中文\r\n", "丢両"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    messages.shown.clear();
    const auto path = file(c.start);
    EXPECT_FALSE(profile_store.write_value(path, "address 1", "relay1name", c.value));
    EXPECT_EQ(read_bytes(path), c.start);
    const Message refused{path.string() +
                              " could not be written: the name would change how the file's "
                              "characters read",
                          "File Error", MessageIcon::Critical};
    EXPECT_EQ(messages.shown, std::vector<Message>{refused});
  }
  // A file left with ASCII alone reads the same in every encoding.
  messages.shown.clear();
  const auto path = file("[address 1]\r\nrelay1name=中文\r\n");
  ASSERT_TRUE(profile_store.write_value(path, "address 1", "relay1name", "pump"));
  EXPECT_EQ(read_bytes(path), "[address 1]\r\nrelay1name=pump\r\n");
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(ProfileStoreTest, SectionTestIsExactWhileReadingFoldsCase) {
  const auto path = fixture("headers.ini");
  EXPECT_FALSE(profile_store.has_section_line(path, "address 0"));
  EXPECT_TRUE(profile_store.has_section_line(path, "address 1"));
  EXPECT_EQ(profile_store.read_value(path, "address 0", "relay1name"), "case");
  EXPECT_TRUE(profile_store.has_section_line(fixture("utf8_bom.ini"), "address 1"));
}

// POSIX only by design: permission bits, symbolic links that any user may make, and a
// child process that gives up root rights or meets a full disk. Windows has its own
// cases for a read-only file and a file another program holds open.
#ifndef _WIN32
TEST_F(ProfileStoreTest, WriteKeepsPermissionsAndSymbolicLinks) {
  const perms shared = perms::owner_read | perms::owner_write | perms::group_read;
  const auto real = file(default_file, "shared.txt");
  std::filesystem::permissions(real, shared);
  const auto link = folder / "name.txt";
  std::filesystem::create_symlink(real, link);
  ASSERT_TRUE(profile_store.write_value(link, "address 1", "relay1name", "pump"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(profile_store.read_value(real, "address 1", "relay1name"), "pump");
  EXPECT_EQ(std::filesystem::status(real).permissions(), shared);
}

// Each failure tells the operator the path and the system's reason, gives the empty
// result, and leaves the old file and no temporary file behind.
TEST_F(ProfileStoreTest, FailedReadOrWriteIsReportedAndLosesNothing) {
  const perms writable = perms::owner_write | perms::group_write | perms::others_write;
  const std::string old = default_name_text();  // some 80 kB
  const auto path = folder / "name.txt";
  const struct {
    std::string label;
    std::filesystem::path locked;
    perms removed;  // none: the disk is full after 4096 bytes of the temporary file
    std::string reason;
  } cases[] = {
      {"read-only folder", folder.path(), writable, "could not be written: Permission denied"},
      {"read-only file", path, writable, "could not be written: Permission denied"},
      {"write interrupted midway", path, perms::none, "could not be written: File too large"},
      {"unreadable file", path, perms::all, "could not be read: Permission denied"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder::add_perms(folder.path(), perms::others_all);
    write_bytes(path, old);
    // An earlier case's operator made the lock in a folder every user may write: root
    // would not trust it.
    std::filesystem::remove(NameFileLock::lock_file(path));
    std::filesystem::permissions(c.locked, c.removed, std::filesystem::perm_options::remove);
    const bool unreadable = c.removed == perms::all;
    const auto role = c.removed == perms::none ? ChildRole::full_disk : ChildRole::operator_rights;
    const int result = run_in_child(role, [&] {
      int succeeded = profile_store.write_value(path, "address 1", "relay1name", "pump");
      if (unreadable) {
        succeeded += !profile_store.read_value(path, "Software properties", "The name").empty();
        succeeded += profile_store.has_section_line(path, "Software properties");
      }
      const Message failed{path.string() + " " + c.reason, "File Error", MessageIcon::Critical};
      if (succeeded == 0 && messages.shown == std::vector(unreadable ? 3 : 1, failed)) return 0;
      for (const Message& m : messages.shown) std::fprintf(stderr, "told: %s\n", m.text.c_str());
      return 1;
    });
    EXPECT_EQ(result, 0);
    TempFolder::add_perms(c.locked, perms::owner_read | perms::owner_write);
    EXPECT_TRUE(read_bytes(path) == old);  // not printed: 80 kB
    EXPECT_EQ(folder.names(), std::vector<std::string>{"name.txt"});
  }
}
#endif  // _WIN32

}  // namespace
