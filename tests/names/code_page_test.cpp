#include <gtest/gtest.h>
#ifndef _WIN32
#include <iconv.h>
#endif

#include <cstdlib>
#include <string>
#include <vector>

#include "names/ansi_code_page.h"
#include "names/gb18030_four_byte.h"
#include "names/utf8.h"
#include "names_test_support.h"

namespace {

struct Conversion {
  std::string bytes;
  std::string text;
};

// Names as a Simplified Chinese Windows system writes them in code page 936: the same
// everywhere but for the few where Windows and GB18030 differ.
std::vector<Conversion> chinese_reading() {
  std::vector<Conversion> rows = {
      {"\xB1\xC3", "泵"},
      {"a\x80z", "a€z"},                   // the euro sign of code page 936
      {"\x95\x32\x82\x36", "𠀀"},          // four bytes, beyond U+FFFF
      {"\xE3\x32\x9A\x35", "\U0010FFFF"},  // the last of them
      {"\x81\x80", "亐"},                  // 80 as a second byte is part of a character
      {"\x81 \xFF", "\uFFFD \uFFFD"},
      {"\xB1", "\uFFFD"},
      {"\x95\x32\x82", "\uFFFD2\uFFFD"},  // a four-byte character cut short
  };
  if (ansi_code_page() == 0) {
    rows.push_back({"\xA2\xE3", "€"});  // GB18030's own
  } else {
    rows.push_back({"\xA2\xE3", "\uE76C"});  // what every Windows program reads there
  }
  return rows;
}

std::vector<Conversion> chinese_writing() {
  std::vector<Conversion> rows = {
      {"\xB1\xC3", "泵"},
      {"a\x80z", "a€z"},  // where a Windows reader in code page 936 looks for it
      {"\x95\x32\x82\x36", "𠀀"},
      {"\xE3\x32\x9A\x35", "\U0010FFFF"},
  };
  if (ansi_code_page() == 0) {
    // Private-use characters that GB18030-2005 gave up.
    rows.push_back({"a?z", "a\uE78Dz"});
    rows.push_back({"??", "\uE816\uE817"});
  } else {
    // Windows keeps them where code page 936 always had them.
    rows.push_back({"a\xA6\xD9z", "a\uE78Dz"});
  }
  return rows;
}

// Western European Windows: every byte is a character, Chinese ones are missing.
const std::vector<Conversion> western_reading = {
    {"caf\xE9", "café"}, {"\x80 5", "€ 5"}, {"\xB1\xC3", "±Ã"}, {"\x81", "\u0081"}};
const std::vector<Conversion> western_writing = {
    {"caf\xE9", "café"}, {"\x80", "€"}, {"?-?", "泵-𠀀"}};

TEST(CodePage, ReadsAndWritesNamesAsTheSystemsCodePageHasThem) {
  const bool chinese = chinese_code_page();
  if (!chinese && ansi_code_page() != 1252) {
    GTEST_SKIP() << "no table for code page " << ansi_code_page();
  }
  for (const auto& c : chinese ? chinese_reading() : western_reading) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ansi_to_utf8(c.bytes), c.text);
  }
  for (const auto& c : chinese ? chinese_writing() : western_writing) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(utf8_to_ansi(c.text), c.bytes);
  }
}

TEST(CodePage, OnlyCharactersTheCodePageLacksAreMissing) {
  const struct {
    std::string text;
    std::string chinese;  // the first missing character, or "" when none is
    std::string western;
  } cases[] = {
      {"pump", "", ""},
      {"泵房€", "", "泵"},
      {"x𠀀", "", "𠀀"},
      {"café", "", ""},  // 936 has é among its pinyin letters
      {"ä", ansi_code_page() == 0 ? "" : "ä", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string missing = first_missing_ansi_character(c.text).value_or("");
    EXPECT_EQ(missing, chinese_code_page() ? c.chinese : c.western);
  }
}

// The four-byte forms beyond U+FFFF against the system's GB18030 converter, for every
// plane's first and last characters and a spread between.
TEST(CodePage, FourByteCharactersBeyondTheBasicPlaneMatchGb18030) {
  std::vector<char32_t> code_points;
  for (char32_t plane = 1; plane <= 16; ++plane) {
    code_points.push_back(plane << 16);
    code_points.push_back((plane << 16) | 0xFFFF);
  }
  for (char32_t c = 0x10000; c <= 0x10FFFF; c += 0x3FF) code_points.push_back(c);
  for (const char32_t c : code_points) {
    SCOPED_TRACE(static_cast<unsigned long>(c));
    const std::string bytes = gb18030_supplementary_bytes(c);
    ASSERT_EQ(bytes.size(), 4u);
    EXPECT_EQ(gb18030_supplementary_code_point(bytes, 0), c);
#ifndef _WIN32
    std::string utf8;
    append_utf8(utf8, c);
    const iconv_t cd = iconv_open("GB18030", "UTF-8");
    char* in = utf8.data();
    std::size_t in_left = utf8.size();
    char out[8];
    char* end = out;
    std::size_t out_left = sizeof out;
    ASSERT_NE(iconv(cd, &in, &in_left, &end, &out_left), static_cast<std::size_t>(-1));
    iconv_close(cd);
    EXPECT_EQ(bytes, std::string(out, static_cast<std::size_t>(end - out)));
#endif
  }
  // Four bytes below U+10000 or past U+10FFFF are no such character.
  EXPECT_EQ(gb18030_supplementary_code_point("\x81\x30\x81\x30", 0), std::nullopt);
  EXPECT_EQ(gb18030_supplementary_code_point("\xE3\x32\x9A\x36", 0), std::nullopt);
  EXPECT_EQ(gb18030_supplementary_code_point("\x95\x32\x82", 0), std::nullopt);
}

// The prefixes that scripts/test makes for Windows say which code page they are set to:
// a test run under another one would prove nothing about it.
TEST(CodePage, RunsUnderTheCodePageItWasStartedFor) {
  const char* expected = std::getenv("RELAY_EXPECTED_CODE_PAGE");
  if (!expected) GTEST_SKIP() << "no code page asked for";
  EXPECT_EQ(std::to_string(ansi_code_page()), expected);
}

}  // namespace
