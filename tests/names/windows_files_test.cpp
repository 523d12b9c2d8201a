// Name files as a Chinese Windows system and the operators' editors write them: every
// GB2312 character in code page 936 and in UTF-8, long runs of writes that must keep
// the file's encoding, and Notepad's UTF-16 files.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "names/profile_text.h"
#include "names_test_support.h"
#include "recording_message_boxes.h"
#include "text/ansi_code_page.h"
#include "text/file_encoding.h"
#include "told_store.h"

namespace {

using Form = FileEncoding::Form;

const std::string zhong_gb = "\xD6\xD0";  // 中, the fixed neighbour

// One GB2312 character: its bytes in code page 936 and its text.
struct Gb2312Char {
  std::string gb;
  std::string text;
};

#ifdef _WIN32
// The character of code page 936 bytes, by the system's own table (code page 936 is
// GB2312 in these rows), whatever the system's ANSI code page.
std::optional<std::string> gb2312_to_utf8(const std::string& gb) {
  wchar_t wide[4];
  const int units = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gb.data(),
                                        static_cast<int>(gb.size()), wide, 4);
  if (units != 1) return std::nullopt;
  char buffer[8];
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide, 1, buffer, 8, nullptr, nullptr);
  return std::string(buffer, static_cast<std::size_t>(length));
}
#else
std::optional<std::string> gb2312_to_utf8(std::string gb) {
  const iconv_t cd = iconv_open("UTF-8", "GB2312");
  char* in = gb.data();
  std::size_t in_left = gb.size();
  char buffer[8];
  char* out = buffer;
  std::size_t out_left = sizeof buffer;
  const bool converted = iconv(cd, &in, &in_left, &out, &out_left) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  if (!converted) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(out - buffer));
}
#endif

// The 6763 hanzi of GB2312 (rows B0..F7, cells A1..FE, without D7 FA..FE), read with
// the system's own GB2312 table rather than the program's conversion.
const std::vector<Gb2312Char>& gb2312_hanzi() {
  static const std::vector<Gb2312Char> all = [] {
    std::vector<Gb2312Char> chars;
    for (int row = 0xB0; row <= 0xF7; ++row) {
      for (int cell = 0xA1; cell <= 0xFE; ++cell) {
        if (row == 0xD7 && cell >= 0xFA) continue;
        const std::string gb{static_cast<char>(row), static_cast<char>(cell)};
        if (const auto text = gb2312_to_utf8(gb)) chars.push_back({gb, *text});
      }
    }
    return chars;
  }();
  return all;
}

// The forms these tests write: Windows reads every file without a byte-order mark in
// its ANSI code page, as every other Windows program does, so UTF-8 files made in a
// Linux editor are a case only elsewhere. Files in code page 936 are Chinese only where
// the system's code page is 936 (or, off Windows, its superset GB18030).
std::vector<Form> unmarked_forms() {
  std::vector<Form> forms;
  if (chinese_code_page()) forms.push_back(Form::code_page);
  if (unmarked_utf8_files) forms.push_back(Form::utf8);
  return forms;
}

// In memory where the system offers it: every write of the name file is flushed.
std::filesystem::path fast_folder_root() {
#ifndef _WIN32
  const std::filesystem::path shm = "/dev/shm";
  std::error_code error;
  if (std::filesystem::is_directory(shm, error) && ::access("/dev/shm", W_OK) == 0) return shm;
#endif
  return std::filesystem::temp_directory_path();
}

class FastFolder {
 public:
  FastFolder() : path_(TempFolder::unique_folder(fast_folder_root())) {}
  ~FastFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

const std::string title = "[Software properties]\r\nThe name=Corvanti\r\n";

TEST(WindowsFiles, EveryGb2312CharacterAloneInAFileReadsBackInBothEncodings) {
  const std::vector<Form> forms = unmarked_forms();
  if (forms.empty())
    GTEST_SKIP() << "no Chinese file without a mark in code page " << ansi_code_page();
  const auto& chars = gb2312_hanzi();
  ASSERT_EQ(chars.size(), 6763u);
  const std::string zhong = "中";
  for (const Gb2312Char& c : chars) {
    const struct {
      std::string name_bytes;
      std::string text;
      Form form;
    } files[] = {
        {c.gb, c.text, Form::code_page},
        {c.gb + zhong_gb, c.text + zhong, Form::code_page},
        {zhong_gb + c.gb, zhong + c.text, Form::code_page},
        {c.text, c.text, Form::utf8},
        {c.text + zhong, c.text + zhong, Form::utf8},
        {zhong + c.text, zhong + c.text, Form::utf8},
    };
    for (const auto& f : files) {
      if (std::find(forms.begin(), forms.end(), f.form) == forms.end()) continue;
      const std::string bytes = title + "[address 0]\r\nrelay1name=" + f.name_bytes + "\r\n";
      const FileEncoding encoding = FileEncoding::detect(bytes);
      const auto value = profile_value(bytes, "address 0", "relay1name", encoding.char_length());
      if (encoding.form() != f.form || !value || encoding.decode(*value) != f.text) {
        ADD_FAILURE() << f.text << " in " << (f.form == Form::utf8 ? "UTF-8" : "code page 936");
      }
    }
  }
}

// Files of 16 addresses by 16 relays, as one-character names under [address n] and
// two-character ones under [pair n], read through ProfileStore from disk.
TEST(WindowsFiles, Gb2312CharactersReadBackFromWholeFilesInBothEncodings) {
  const std::vector<Form> forms = unmarked_forms();
  if (forms.empty())
    GTEST_SKIP() << "no Chinese file without a mark in code page " << ansi_code_page();
  const auto& chars = gb2312_hanzi();
  FastFolder folder;
  RecordingMessageBoxes messages;
  ToldStore profile_store(messages);
  const auto path = folder / "name.txt";
  int checked = 0;
  for (std::size_t first = 0; first < chars.size(); first += 256) {
    const std::size_t last = std::min(first + 256, chars.size());
    for (const Form form : forms) {
      const bool utf8 = form == Form::utf8;
      std::string bytes = title;
      for (const char* section : {"address", "pair"}) {
        for (std::size_t i = first; i < last; ++i) {
          const std::size_t n = i - first;
          if (n % 16 == 0)
            bytes.append("[")
                .append(section)
                .append(" ")
                .append(std::to_string(n / 16))
                .append("]\r\n");
          std::string name = utf8 ? chars[i].text : chars[i].gb;
          if (section[0] == 'p') name += utf8 ? "中" : zhong_gb;
          bytes += "relay" + std::to_string(n % 16 + 1) + "name=" + name + "\r\n";
        }
      }
      write_bytes(path, bytes);
      ASSERT_EQ(FileEncoding::detect(bytes).form(), utf8 ? Form::utf8 : Form::code_page);
      for (std::size_t i = first; i < last; ++i) {
        const std::size_t n = i - first;
        const std::string key = "relay" + std::to_string(n % 16 + 1) + "name";
        const std::string address = std::to_string(n / 16);
        EXPECT_EQ(profile_store.read_value(path, "address " + address, key), chars[i].text);
        EXPECT_EQ(profile_store.read_value(path, "pair " + address, key), chars[i].text + "中");
        checked += 2;
      }
    }
  }
  EXPECT_EQ(checked, 2 * forms.size() * 6763);
  EXPECT_TRUE(messages.shown.empty());
}

// Thousands of renames with GB2312 names of 1..20 characters under random relays: each
// reads back exactly, the others keep theirs, and the file never changes encoding.
TEST(WindowsFiles, RandomWritesOfGb2312NamesKeepTheFileEncoding) {
  const std::vector<Form> forms = unmarked_forms();
  if (forms.empty())
    GTEST_SKIP() << "no Chinese file without a mark in code page " << ansi_code_page();
  const auto& chars = gb2312_hanzi();
  FastFolder folder;
  RecordingMessageBoxes messages;
  ToldStore profile_store(messages);
  const struct {
    std::string label;
    std::string start;
    Form form;
  } files[] = {
      {"code page 936", title, Form::code_page},
      {"UTF-8", title + "[address 0]\r\nrelay1name=水泵\r\n", Form::utf8},
  };
  for (const auto& f : files) {
    if (std::find(forms.begin(), forms.end(), f.form) == forms.end()) continue;
    SCOPED_TRACE(f.label);
    const auto path = folder / "name.txt";
    write_bytes(path, f.start);
    ASSERT_EQ(FileEncoding::detect(f.start).form(), f.form);
    std::mt19937 random(20260807);
    std::map<std::pair<int, int>, std::string> stored;
    for (int write = 0; write < 3000; ++write) {
      const int address = static_cast<int>(random() % 4);
      const int relay = 1 + static_cast<int>(random() % 16);
      std::string name;
      for (std::size_t length = 1 + random() % 20; length > 0; --length) {
        name += chars[random() % chars.size()].text;
      }
      const std::string section = "address " + std::to_string(address);
      const std::string key = "relay" + std::to_string(relay) + "name";
      ASSERT_TRUE(profile_store.write_value(path, section, key, name)) << "write " << write;
      stored[{address, relay}] = name;
      ASSERT_EQ(FileEncoding::detect(read_bytes(path)).form(), f.form) << "write " << write;
      ASSERT_EQ(profile_store.read_value(path, section, key), name) << "write " << write;
    }
    for (const auto& [place, name] : stored) {
      const std::string section = "address " + std::to_string(place.first);
      const std::string key = "relay" + std::to_string(place.second) + "name";
      EXPECT_EQ(profile_store.read_value(path, section, key), name) << section << " " << key;
    }
  }
  EXPECT_TRUE(messages.shown.empty());
}

class Utf16FileTest : public ::testing::Test {
 protected:
  TempFolder folder;
  std::filesystem::path path = folder / "name.txt";
  RecordingMessageBoxes messages;
  ToldStore profile_store{messages};
};

TEST_F(Utf16FileTest, ReadsNamesAndTheStartUpKeepsTheFile) {
  const std::string before = read_bytes(fixture("utf16le.ini"));
  write_bytes(path, before);
  EXPECT_EQ(profile_store.read_value(path, "Software properties", "The name"), "继电器面板");
  EXPECT_EQ(profile_store.read_value(path, "ADDRESS 0", "relay1name"), "水泵");
  EXPECT_EQ(profile_store.read_value(path, "address 0", "relay2name"), "𠀀阀");
  EXPECT_EQ(profile_store.read_value(path, "address 1", "relay1name"), "风机");
  EXPECT_EQ(profile_store.read_value(path, "address 1", "relay2name"), "");
  EXPECT_TRUE(profile_store.has_section_line(path, "address 0"));
  EXPECT_FALSE(profile_store.has_section_line(path, "Address 0"));

  FakeNameView view;
  NameFile names(path, profile_store.store, messages, view);
  names.open_or_create();
  EXPECT_EQ(view.captions, std::vector<std::string>{"继电器面板"});
  EXPECT_EQ(read_bytes(path), before);
  EXPECT_EQ(folder.names(), std::vector<std::string>{"name.txt"});
  names.load_names("0");
  EXPECT_EQ(view.labels[1], "水泵");
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Utf16FileTest, WritesChangeOnlyTheirLineInUtf16) {
  const struct {
    std::string expected;
    std::string section;
    std::string key;
    std::string value;
  } cases[] = {
      {"utf16le_replace", "address 1", "RELAY1NAME", "新风机"},
      {"utf16le_append_key", "address 1", "relay2name", "阀门"},
      {"utf16le_new_section", "address 2", "relay2name", "泵"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    write_bytes(path, read_bytes(fixture("utf16le.ini")));
    ASSERT_TRUE(profile_store.write_value(path, c.section, c.key, c.value));
    EXPECT_EQ(read_bytes(path), read_bytes(fixture(c.expected + ".expected.ini")));
    EXPECT_EQ(profile_store.read_value(path, c.section, c.key), c.value);
  }
  EXPECT_TRUE(messages.shown.empty());
}

// 254 UTF-16 code units, as the platform's wide-character service counts its buffer; a
// character beyond U+FFFF is a pair of units and is never split.
TEST_F(Utf16FileTest, ReadLimitCountsCodeUnitsAndKeepsPairsWhole) {
  std::string many_zhong;
  for (int i = 0; i < 253; ++i) many_zhong += "中";
  const struct {
    std::string value;
    std::string read_back;
  } cases[] = {
      {many_zhong + "中", many_zhong + "中"},
      {many_zhong + "中中", many_zhong + "中"},
      {many_zhong + "𠀀", many_zhong},
      {"x" + many_zhong + "𠀀", "x" + many_zhong},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.read_back.size());
    write_bytes(path, read_bytes(fixture("utf16le.ini")));
    ASSERT_TRUE(profile_store.write_value(path, "address 1", "relay1name", c.value));
    EXPECT_EQ(profile_store.read_value(path, "address 1", "relay1name"), c.read_back);
  }
}

// A lone surrogate would not be written back as it was: the write is refused whole.
TEST_F(Utf16FileTest, FileWithALoneSurrogateIsNotRewritten) {
  const std::string before = std::string("\xFF\xFE[\0a\0]\0\r\0\n\0k\0=\0\x00\xD8\r\0\n\0", 22);
  write_bytes(path, before);
  EXPECT_EQ(profile_store.read_value(path, "a", "k"), "\uFFFD");
  EXPECT_FALSE(profile_store.write_value(path, "a", "other", "x"));
  EXPECT_EQ(read_bytes(path), before);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].caption, "File Error");
}

}  // namespace
