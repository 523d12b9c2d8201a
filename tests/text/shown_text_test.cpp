#include "text/shown_text.h"

#include <gtest/gtest.h>

#include "text/json_text.h"

namespace {

// The one escaper behind every terminal, log and JSON document. Shown, every control
// (C0, DEL, C1: U+009B alone starts a control sequence) becomes \u001b and the like and
// a byte that is no part of a well-formed character \xff, and showing it again changes
// nothing. In JSON quotes and backslashes are escaped too, a broken byte becomes U+FFFD
// so that the document stays valid, and what is written reads back as it was given.
TEST(ShownText, EscapesEveryControlAndBrokenByteAlikeForTerminalsLogsAndJson) {
  const std::string fffd = "\xEF\xBF\xBD";
  const struct {
    std::string text;
    std::string shown;
    std::string json;
  } cases[] = {
      {"Pump", "Pump", R"("Pump")"},
      {"say \"hi\"", "say \"hi\"", R"("say \"hi\"")"},
      {"C:\\dir\\", "C:\\dir\\", R"("C:\\dir\\")"},
      {"<b>markup</b> & 'quotes'", "<b>markup</b> & 'quotes'", R"("<b>markup</b> & 'quotes'")"},
      {"\xE6\xB0\xB4\xE6\xB3\xB5 \xF0\x9F\x92\xA7", "\xE6\xB0\xB4\xE6\xB3\xB5 \xF0\x9F\x92\xA7",
       "\"\xE6\xB0\xB4\xE6\xB3\xB5 \xF0\x9F\x92\xA7\""},
      {std::string("a\nb\tc\x01\x1F\x7F", 8) + std::string(1, '\0'),
       "a\\u000ab\\u0009c\\u0001\\u001f\\u007f\\u0000",
       "\"a\\nb\\tc\\u0001\\u001f\\u007f\\u0000\""},
      {"\x1b]0;owned\x07", "\\u001b]0;owned\\u0007", "\"\\u001b]0;owned\\u0007\""},
      {"\x1b[2J\xC2\x80\xC2\x9B"
       "0m\xC2\x85\xC2\x9F\xC2\xA0",
       "\\u001b[2J\\u0080\\u009b0m\\u0085\\u009f\xC2\xA0",
       "\"\\u001b[2J\\u0080\\u009b0m\\u0085\\u009f\xC2\xA0\""},
      {"\xFF", "\\xff", '"' + fffd + '"'},
      {"\x9B\xFF", "\\x9b\\xff", '"' + fffd + fffd + '"'},  // a C1 control to 8-bit terminals
      {"x\xE6\xB0", "x\\xe6\\xb0", "\"x" + fffd + '"'},     // cut short
      {"\xC0\xAF", "\\xc0\\xaf", '"' + fffd + fffd + '"'},  // overlong slash
      {"\xED\xA0\x80", "\\xed\\xa0\\x80", '"' + fffd + fffd + fffd + '"'},  // surrogate
      {"\xB0\xC3\xA9", "\\xb0\xC3\xA9", '"' + fffd + "\xC3\xA9\""},  // stray continuation byte
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(shown_text(c.text), c.shown);
    EXPECT_EQ(shown_text(c.shown), c.shown);
    EXPECT_EQ(json_string(c.text), c.json);
    const auto read = json_object("{\"k\":" + c.json + '}');
    ASSERT_TRUE(read);
    // A repaired text reads back as repaired; the rest as it was.
    EXPECT_EQ(json_text_field(*read, "k"), c.json.find(fffd) == std::string::npos
                                               ? c.text
                                               : c.json.substr(1, c.json.size() - 2));
  }
}

}  // namespace
