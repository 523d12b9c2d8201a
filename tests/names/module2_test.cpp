#include "names/module2.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "names/default_name_text.h"
#include "names_test_support.h"
#include "recording_message_boxes.h"

namespace {

const std::string default_file = "[Software properties]\r\nThe name=Corvanti\r\n";

std::string repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

class Module2Test : public ::testing::Test {
 protected:
  std::filesystem::path file(const std::string& bytes, const std::string& name = "name.txt") {
    const auto path = folder / name;
    write_bytes(path, bytes);
    return path;
  }

  TempFolder folder;
  RecordingMessageBoxes messages;
  Module2 module2{messages};
};

TEST_F(Module2Test, MissingFileIsReportedOncePerCallAndNothingIsCreated) {
  const auto missing = folder / "name.txt";
  const Message expected{missing.string() + " not found.", "File Not Found", MessageIcon::Critical};
  EXPECT_EQ(module2.read_ini(missing, "address 1", "relay1name"), "");
  EXPECT_EQ(module2.write_ini(missing, "address 1", "relay1name", "pump"), 0);
  EXPECT_FALSE(module2.section_exists(missing, "address 0"));
  EXPECT_EQ(messages.shown, (std::vector<Message>{expected, expected, expected}));
  EXPECT_TRUE(folder.names().empty());
}

TEST_F(Module2Test, EmptyFileEmptyValueAndMissingKeyReadEmptyWithoutAMessage) {
  const auto empty = file("", "empty.txt");
  EXPECT_FALSE(module2.section_exists(empty, "address 0"));
  EXPECT_EQ(module2.read_ini(empty, "address 0", "relay1name"), "");
  const auto path = file("[address 1]\r\nrelay1name=\r\n");
  EXPECT_EQ(module2.read_ini(path, "address 1", "relay1name"), "");
  EXPECT_EQ(module2.read_ini(path, "address 1", "relay2name"), "");
  EXPECT_EQ(module2.read_ini(path, "address 2", "relay1name"), "");
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Module2Test, LongValuesAreKeptWholeAndReadCutTo254Bytes) {
  for (const std::size_t length : {253, 254, 255, 300}) {
    SCOPED_TRACE(length);
    const auto path = file(default_file);
    const std::string value(length, 'x');
    ASSERT_EQ(module2.write_ini(path, "address 1", "relay1name", value), 1);
    EXPECT_EQ(read_bytes(path), default_file + "[address 1]\r\nrelay1name=" + value + "\r\n");
    EXPECT_EQ(module2.read_ini(path, "address 1", "relay1name"), value.substr(0, 254));
  }
}

struct NameCase {
  std::string label;
  std::string start;  // the file before the write decides its code page
  std::string name;
  std::string read_back;
  std::string stored;  // the name's bytes in the file
};

TEST_F(Module2Test, ChineseNamesRoundTripCutByWholeCharacters) {
  const std::string zhong_gb = "\xD6\xD0";         // 中 in GB18030
  const std::string rare_gb = "\x95\x32\x82\x36";  // 𠀀, four bytes in GB18030
  const std::string utf8_file = "[address 0]\r\nrelay1name=泵\r\n";
  const NameCase cases[] = {
      {"127 characters fit", default_file, repeat("中", 127), repeat("中", 127),
       repeat(zhong_gb, 127)},
      {"150 characters are cut to 127", default_file, repeat("中", 150), repeat("中", 127),
       repeat(zhong_gb, 150)},
      {"odd byte left over", default_file, std::string("a").append(repeat("中", 127)),
       std::string("a").append(repeat("中", 126)), std::string("a").append(repeat(zhong_gb, 127))},
      {"four-byte character cut", default_file, repeat("中", 126) + "𠀀" + "x", repeat("中", 126),
       repeat(zhong_gb, 126) + rare_gb + "x"},
      {"UTF-8 file, 85 characters", utf8_file, repeat("中", 85), repeat("中", 84),
       repeat("中", 85)},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.label);
    const auto path = file(c.start);
    ASSERT_EQ(module2.write_ini(path, "address 1", "relay1name", c.name), 1);
    EXPECT_EQ(read_bytes(path), c.start + "[address 1]\r\nrelay1name=" + c.stored + "\r\n");
    EXPECT_EQ(module2.read_ini(path, "address 1", "relay1name"), c.read_back);
  }
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Module2Test, NameWhoseCodePageBytesLookLikeUtf8StillReadsBack) {
  // 模 is C4 A3 in GB18030, which is also the UTF-8 form of ģ.
  for (const std::string& start : {default_file, read_bytes(fixture("gb18030.ini"))}) {
    const auto path = file(start);
    const std::string before = module2.read_ini(path, "address 1", "relay1name");
    ASSERT_EQ(module2.write_ini(path, "address 1", "relay2name", "模"), 1);
    EXPECT_EQ(module2.read_ini(path, "address 1", "relay2name"), "模");
    EXPECT_EQ(module2.read_ini(path, "address 1", "relay1name"), before);
    ASSERT_EQ(module2.write_ini(path, "address 1", "relay1name", "模"), 1);
    EXPECT_EQ(module2.read_ini(path, "address 1", "relay1name"), "模");
  }
}

TEST_F(Module2Test, DamagedBytesReadAsReplacementCharacters) {
  EXPECT_EQ(module2.read_ini(fixture("damaged.ini"), "address 1", "relay1name"),
            "a\uFFFDb\uFFFD泵\uFFFD");
}

struct WriteCase {
  std::string fixture;
  std::string section;
  std::string key;
  std::string value;
};

TEST_F(Module2Test, WritesChangeOnlyTheirLine) {
  const WriteCase cases[] = {
      {"replace_in_place", "address 3", "relay7name", "pump"},
      {"append_last_section_no_newline", "address 1", "relay2name", "pump"},
      {"append_middle_section", "address 1", "relay2name", "pump"},
      {"append_empty_section", "address 1", "relay2name", "pump"},
      {"new_section", "address 1", "relay2name", "pump"},
      {"new_section_lf_no_newline", "address 1", "relay2name", "pump"},
      {"lf_only", "address 1", "relay2name", "pump"},
      {"mixed_endings", "address 1", "relay2name", "pump"},
      {"duplicate_sections", "address 1", "relay2name", "pump"},
      {"quoted_value", "address 1", "relay2name", " pump "},
      {"ascii", "address 1", "relay2name", "继电器"},
      {"gb18030", "address 1", "relay2name", "继电器"},
      {"utf8_plain", "address 1", "relay2name", "继电器"},
      {"utf8_bom", "address 1", "relay2name", "继电器"},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.fixture);
    const auto path = file(read_bytes(fixture(c.fixture + ".ini")));
    ASSERT_EQ(module2.write_ini(path, c.section, c.key, c.value), 1);
    EXPECT_EQ(read_bytes(path), read_bytes(fixture(c.fixture + ".expected.ini")));
    EXPECT_EQ(module2.read_ini(path, c.section, c.key), c.value);
  }
  EXPECT_EQ(folder.names(), std::vector<std::string>{"name.txt"});
}

TEST_F(Module2Test, LineBreaksAreRefused) {
  const auto path = file(default_file);
  const WriteCase refused[] = {
      {"value CR LF", "address 1", "relay1name", "a\r\nrelay2name=b"},
      {"value LF", "address 1", "relay1name", "a\n"},
      {"value CR", "address 1", "relay1name", "\r"},
      {"section", "address 1\n[x]", "relay1name", "a"},
      {"key", "address 1", "relay1name\rx", "a"},
  };
  for (const WriteCase& c : refused) {
    SCOPED_TRACE(c.fixture);
    EXPECT_EQ(module2.write_ini(path, c.section, c.key, c.value), 0);
  }
  EXPECT_EQ(read_bytes(path), default_file);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Module2Test, SectionTestIsExactWhileReadingFoldsCase) {
  const auto path = fixture("headers.ini");
  EXPECT_FALSE(module2.section_exists(path, "address 0"));
  EXPECT_TRUE(module2.section_exists(path, "address 1"));
  EXPECT_EQ(module2.read_ini(path, "address 0", "relay1name"), "case");
  EXPECT_TRUE(module2.section_exists(fixture("utf8_bom.ini"), "address 1"));
}

TEST_F(Module2Test, WriteKeepsPermissionsAndSymbolicLinks) {
  const auto real = file(default_file, "shared.txt");
  std::filesystem::permissions(real, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_read);
  const auto link = folder / "name.txt";
  std::filesystem::create_symlink(real, link);
  ASSERT_EQ(module2.write_ini(link, "address 1", "relay1name", "pump"), 1);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(module2.read_ini(real, "address 1", "relay1name"), "pump");
  EXPECT_EQ(std::filesystem::status(real).permissions(), std::filesystem::perms::owner_read |
                                                             std::filesystem::perms::owner_write |
                                                             std::filesystem::perms::group_read);
}

// In a child process: 0 when the call failed as expected and told the operator why.
int failed_with_reason(const std::function<std::int32_t(Module2&)>& call,
                       const std::filesystem::path& path, const std::string& reason) {
  RecordingMessageBoxes messages;
  Module2 module2(messages);
  if (call(module2) != 0) return 1;
  if (messages.shown.size() != 1) return 2;
  const Message& shown = messages.shown.front();
  if (shown.icon != MessageIcon::Critical) return 3;
  if (shown.text.find(path.string()) != 0 || !shown.text.ends_with(reason)) {
    std::fprintf(stderr, "message: %s\n", shown.text.c_str());
    return 4;
  }
  return 0;
}

TEST_F(Module2Test, WriteIntoReadOnlyFolderOrFileLosesNothing) {
  using std::filesystem::perms;
  const struct {
    std::string label;
    std::filesystem::path target;
    perms removed;
  } cases[] = {
      {"folder", folder.path(), perms::owner_write | perms::group_write | perms::others_write},
      {"file", folder / "name.txt", perms::owner_write | perms::group_write | perms::others_write},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::filesystem::permissions(folder.path(), perms::owner_all | perms::others_all,
                                 std::filesystem::perm_options::add);
    const auto path = file(default_file);
    std::filesystem::permissions(c.target, c.removed, std::filesystem::perm_options::remove);
    const int result = run_in_child([&] {
      if (!drop_root_rights()) return 10;
      return failed_with_reason(
          [&](Module2& m) { return m.write_ini(path, "address 1", "relay1name", "pump"); }, path,
          "could not be written: Permission denied");
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read_bytes(path), default_file);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"name.txt"});
  }
}

TEST_F(Module2Test, WriteInterruptedMidwayLeavesTheOldFile) {
  const std::string old = default_name_text();  // some 80 kB
  const auto path = file(old);
  const int result = run_in_child([&] {
    limit_file_size(4096);  // the temporary file fills up after 4096 bytes
    return failed_with_reason(
        [&](Module2& m) { return m.write_ini(path, "address 1", "relay1name", "pump"); }, path,
        "could not be written: File too large");
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(read_bytes(path), old);
  EXPECT_EQ(folder.names(), std::vector<std::string>{"name.txt"});
}

TEST_F(Module2Test, UnreadableFileIsReportedNotTakenAsEmpty) {
  const auto path = file(default_file);
  std::filesystem::permissions(path, std::filesystem::perms::none);
  const int result = run_in_child([&] {
    if (!drop_root_rights()) return 10;
    const std::function<std::int32_t(Module2&)> calls[] = {
        [&](Module2& m) { return !m.read_ini(path, "Software properties", "The name").empty(); },
        [&](Module2& m) { return m.section_exists(path, "Software properties"); },
        [&](Module2& m) { return m.write_ini(path, "address 1", "relay1name", "pump"); },
    };
    for (int i = 0; i < 3; ++i) {
      if (int r = failed_with_reason(calls[i], path, "could not be read: Permission denied")) {
        return 20 * i + r;
      }
    }
    return 0;
  });
  EXPECT_EQ(result, 0);
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  EXPECT_EQ(read_bytes(path), default_file);
}

}  // namespace
