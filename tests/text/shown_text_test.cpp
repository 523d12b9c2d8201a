#include <gtest/gtest.h>

#include "text/json_text.h"

namespace {

// Quotes, backslashes and every control (DEL and C1 too) are escaped; a byte that is not
// part of a well-formed character becomes U+FFFD, so that a document stays valid JSON;
// what is written reads back as it was given.
TEST(JsonString, EscapesWhatItMustAndRepairsBrokenUtf8) {
  const std::string fffd = "\xEF\xBF\xBD";
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
       "\"a\\nb\\tc\\u0001\\u001f\\u007f\\u0000\""},
      {"\x1b[2J\xC2\x80\xC2\x9B"
       "0m\xC2\x9F\xC2\xA0",
       "\"\\u001b[2J\\u0080\\u009b0m\\u009f\xC2\xA0\""},
      {"\xFF", '"' + fffd + '"'},
      {"x\xE6\xB0", "\"x" + fffd + '"'},                 // cut short
      {"\xC0\xAF", '"' + fffd + fffd + '"'},             // overlong slash
      {"\xED\xA0\x80", '"' + fffd + fffd + fffd + '"'},  // surrogate
      {"\xB0\xC3\xA9", '"' + fffd + "\xC3\xA9\""},       // stray continuation byte
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
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
