// The settings files' one grammar: what each line says, and the fault at its line.
#include "settings/settings_text.h"

#include <gtest/gtest.h>

namespace {

// The lines as "N key=value" and "N [section]", or the fault.
std::string read(std::string_view text, const SettingsGrammar& grammar) {
  auto parsed = settings_lines(text, "f", grammar);
  if (const auto* why = std::get_if<std::string>(&parsed)) return *why;
  std::string out;
  for (const SettingsLine& line : std::get<std::vector<SettingsLine>>(parsed)) {
    out += std::to_string(line.number);
    out += line.section ? " [" : " ";
    out += line.key;
    if (line.section) {
      out += ']';
    } else {
      out += '=';
      out += line.value;
    }
    out += ';';
  }
  return out;
}

TEST(SettingsText, ReadsOneGrammar) {
  const SettingsGrammar plain;
  const SettingsGrammar no_comments{.trailing_comments = false};
  const SettingsGrammar sections{.sections = true, .repeatable = {"interlock"}};
  const SettingsGrammar colon{.separator = ':', .trailing_comments = false};
  const SettingsGrammar lenient{.skip_other_lines = true, .repeatable = {"paused"}};
  const struct {
    const SettingsGrammar& grammar;
    std::string_view text;
    std::string_view read;
  } cases[] = {
      {plain, " a = 1 \n\n  # note\nb=2", "1 a=1;4 b=2;"},
      {plain,
       "\xEF\xBB\xBF"
       "a = 1\r\nb = 2\r\n",
       "1 a=1;2 b=2;"},
      {plain, "a = on  # the motor\nb = x#y\nc = #\nd =\t# none", "1 a=on;2 b=x#y;3 c=;4 d=;"},
      {no_comments, "a = p #w", "1 a=p #w;"},
      {plain, "a = 1\nb\n", "f:2: not a \"key = value\" line"},
      {plain, "a = 1\n# a = 2\na = 3 # again", "f:3: a: already set on line 1"},
      {sections, "[x 1]  # one\ninterlock = 1,2\ninterlock = 3,4\n[ x 2 ]\nk = 1\n",
       "1 [x 1];2 interlock=1,2;3 interlock=3,4;4 [x 2];5 k=1;"},
      {sections, "[x 1]\nk = 1\n[x 2]\nk = 2\nk = 3", "f:5: k: already set on line 4"},
      {colon, "ann:operator:#:x\n# c\r\nbob:viewer", "1 ann=operator:#:x;3 bob=viewer;"},
      {lenient, "later\npaused = a\npaused = b\nsettled = 1", "2 paused=a;3 paused=b;4 settled=1;"},
  };
  for (const auto& c : cases) EXPECT_EQ(read(c.text, c.grammar), c.read) << c.text;
}

}  // namespace
