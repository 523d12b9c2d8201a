#include "text/shown_text.h"

#include <gtest/gtest.h>

namespace {

// Quotes, backslashes and every control (DEL and C1 too) are escaped; a byte that is not
// part of a well-formed character becomes U+FFFD, so that a document stays valid JSON.
TEST(JsonString, EscapesWhatItMustAndRepairsBrokenUtf8) {
  const std::string fffd = "\\ufffd";
  const struct {
    std::string text;
    std::string json;
  } cases[] = {
      {"Pump", R"("Pump")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"C:\\dir\\", R"("C:\\dir\\")"},
      {"<b>markup</b> & 'quotes'", R"("<b>markup</b> & 'quotes'")"},
      {"\xE6\xB0\xB4\xE6\xB3\xB5 \xF0\x9F\x92\xA7",
       "\"\xE6\xB0\xB4\xE6\xB3\xB5 \xF0\x9F\x92\xA7\""},
      {std::string("a\nb\tc\x01\x1F\x7F", 8) + std::string(1, '\0'),
       "\"a\\u000ab\\u0009c\\u0001\\u001f\\u007f\\u0000\""},
      {"\xFF", '"' + fffd + '"'},
      {"x\xE6\xB0", "\"x" + fffd + fffd + '"'},          // cut short
      {"\xC0\xAF", '"' + fffd + fffd + '"'},             // overlong slash
      {"\xED\xA0\x80", '"' + fffd + fffd + fffd + '"'},  // surrogate
      {"\xB0\xC3\xA9", '"' + fffd + "\xC3\xA9\""},       // stray continuation byte
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(json_string(c.text), c.json);
  }
}

}  // namespace
