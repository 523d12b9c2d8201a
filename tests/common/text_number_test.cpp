#include "common/text_number.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct Case {
  std::string text;
  std::optional<int> int16;
  std::optional<long long> int32;
};

TEST(TextToNumber, AcceptsDecimalWithBlanksAndRoundsHalfToEven) {
  const Case cases[] = {
      {"0", 0, 0},
      {"255", 255, 255},
      {"07", 7, 7},
      {" 7", 7, 7},
      {"7 ", 7, 7},
      {"\t7\t", 7, 7},
      {"2.5", 2, 2},
      {"3.5", 4, 4},
      {"0.5", 0, 0},
      {"2.51", 3, 3},
      {"2.49", 2, 2},
      {"2.500", 2, 2},
      {".5", 0, 0},
      {"5.", 5, 5},
      {"300", 300, 300},
      {"32767", 32767, 32767},
      {"32767.4", 32767, 32767},
      {"32767.5", std::nullopt, 32768},
      {"32768", std::nullopt, 32768},
      {"2147483647", std::nullopt, 2147483647},
      {"2147483648", std::nullopt, std::nullopt},
      {"99999999999999999999999", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("text \"" + c.text + "\"");
    EXPECT_EQ(text_to_int16(c.text), c.int16);
    EXPECT_EQ(text_to_int32(c.text), c.int32);
  }
}

TEST(TextToNumber, RefusesEverythingElse) {
  for (const char* text :
       {"", " ", ".", "-1", "+1", "1,000", "1e2", "0x10", "abc", "1 2", "1.2.3", "1.a", "７"}) {
    SCOPED_TRACE(std::string("text \"") + text + "\"");
    EXPECT_FALSE(text_to_int16(text).has_value());
    EXPECT_FALSE(text_to_int32(text).has_value());
  }
}

}  // namespace
