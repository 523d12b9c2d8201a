#include <gtest/gtest.h>

#include <string>

#include "names/ansi_code_page.h"

namespace {

// Names as Windows writes them in code page 936 and as GB18030 holds them elsewhere.
TEST(CodePage, ReadsWhatWindowsWritesAndWritesOneQuestionMarkPerMissingCharacter) {
  const struct {
    std::string bytes;
    std::string text;
  } decoded[] = {
      {"\xB1\xC3", "泵"},
      {"a\x80z", "a€z"},  // the euro sign of code page 936
      {"\xA2\xE3", "€"},  // GB18030's own
      {"\x95\x32\x82\x36", "𠀀"},
      {"\x81\x80", "亐"},  // 80 as a second byte is part of a character
      {"\x81 \xFF", "\uFFFD \uFFFD"},
      {"\xB1", "\uFFFD"},
  };
  for (const auto& c : decoded) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ansi_to_utf8(c.bytes), c.text);
  }

  const struct {
    std::string text;
    std::string bytes;
  } encoded[] = {
      {"泵", "\xB1\xC3"},
      {"a€z", "a\x80z"},    // where a Windows reader in code page 936 looks for it
      {"a\uE78Dz", "a?z"},  // a private-use character that GB18030-2005 gave up
      {"\uE816\uE817", "??"},
  };
  for (const auto& c : encoded) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(utf8_to_ansi(c.text), c.bytes);
  }
}

}  // namespace
