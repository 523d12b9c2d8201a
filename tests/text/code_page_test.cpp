#include <gtest/gtest.h>
#ifndef _WIN32
#include <iconv.h>
#endif

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "system_code_page.h"
#include "text/ansi_code_page.h"
#include "text/gb18030_four_byte.h"
#include "text/utf8.h"

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
      {"\x81\x39\xEE\x39", "㐀"},          // four bytes, one code page 936 lacks
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
      {"K\x81\x30\x8A\x31hler", "Kähler"},  // no look-alike "a"
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
      {"pump", "", ""},  {"泵房€", "", "泵"},
      {"x𠀀", "", "𠀀"}, {"café", "", ""},  // 936 has é among its pinyin letters
      {"ä㐀", "", "㐀"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string missing = first_missing_ansi_character(c.text).value_or("");
    EXPECT_EQ(missing, chinese_code_page() ? c.chinese : c.western);
  }
}

#ifndef _WIN32
// The system's GB18030 bytes of a code point; nothing when it has none.
std::optional<std::string> iconv_gb18030(char32_t c) {
  std::string utf8;
  append_utf8(utf8, c);
  const iconv_t cd = iconv_open("GB18030", "UTF-8");
  char* in = utf8.data();
  std::size_t in_left = utf8.size();
  char out[8];
  char* end = out;
  std::size_t out_left = sizeof out;
  const bool converted = iconv(cd, &in, &in_left, &end, &out_left) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  if (!converted) return std::nullopt;
  return std::string(out, static_cast<std::size_t>(end - out));
}

// The four-byte forms against the system's GB18030 converter: every character of the
// basic plane, and every plane's first and last characters and a spread between.
TEST(CodePage, FourByteCharactersMatchTheSystemsGb18030) {
  std::vector<char32_t> code_points;
  for (char32_t c = 0x80; c < 0x10000; ++c) {
    if (c < 0xD800 || c > 0xDFFF) code_points.push_back(c);
  }
  for (char32_t plane = 1; plane <= 16; ++plane) {
    code_points.push_back(plane << 16);
    code_points.push_back((plane << 16) | 0xFFFF);
  }
  for (char32_t c = 0x10000; c <= 0x10FFFF; c += 0x3FF) code_points.push_back(c);
  int four_byte = 0;
  for (const char32_t c : code_points) {
    const auto system = iconv_gb18030(c);
    const auto ours = gb18030_four_byte_bytes(c);
    const bool system_four = system && system->size() == 4;
    if (ours != (system_four ? system : std::nullopt)) {
      ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned long>(c);
      continue;
    }
    if (!ours) continue;
    ++four_byte;
    if (gb18030_four_byte_code_point(*ours, 0) != c) {
      ADD_FAILURE() << "back from U+" << std::hex << static_cast<unsigned long>(c);
    }
  }
  EXPECT_GT(four_byte, 39000);
}
#endif

// Bytes that are no four-byte character: between the runs, beyond U+10FFFF, cut short.
TEST(CodePage, FourByteFormsOnlyWhereGb18030HasThem) {
  const struct {
    std::string bytes;
    std::optional<char32_t> code_point;
  } cases[] = {
      {"\x81\x30\x81\x30", 0x80},         {"\x81\x30\x8A\x31", 0xE4},    // ä
      {"\x81\x39\xEE\x39", 0x3400},       {"\x84\x31\xA4\x39", 0xFFFF},  // 㐀
      {"\x95\x32\x82\x36", 0x20000},      {"\xE3\x32\x9A\x35", 0x10FFFF},
      {"\x84\x31\xA5\x30", std::nullopt},  // after the basic plane's last run
      {"\xE3\x32\x9A\x36", std::nullopt},  // past U+10FFFF
      {"\x95\x32\x82", std::nullopt},     {"\x95\x32\x82\x7F", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(gb18030_four_byte_code_point(c.bytes, 0), c.code_point);
    if (c.code_point) {
      EXPECT_EQ(gb18030_four_byte_bytes(*c.code_point), c.bytes);
    }
  }
  // Characters of one or two bytes have no four-byte form.
  for (const char32_t c : {U'a', U'\u6CF5', U'\u20AC'}) {
    EXPECT_EQ(gb18030_four_byte_bytes(c), std::nullopt) << static_cast<unsigned long>(c);
  }
}

// The prefixes that scripts/test makes for Windows say which code page they are set to:
// a test run under another one would prove nothing about it.
TEST(CodePage, RunsUnderTheCodePageItWasStartedFor) {
  const char* expected = std::getenv("RELAY_EXPECTED_CODE_PAGE");
  if (!expected) GTEST_SKIP() << "no code page asked for";
  EXPECT_EQ(std::to_string(ansi_code_page()), expected);
}

}  // namespace
