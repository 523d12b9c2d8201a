#include "names/profile_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "names_test_support.h"

namespace {

struct Lookup {
  std::string section;
  std::string key;
  std::optional<std::string> value;  // nothing: absent
};

TEST(ProfileText, ReadsHandEditedFilesByTheReadingRules) {
  const std::string text = read_bytes(fixture("reading_rules.ini"));
  const Lookup lookups[] = {
      {"Software properties", "The name", "Corvanti"},
      {"SOFTWARE properties", "the NAME", "Corvanti"},
      {" Software properties ", " The name ", "Corvanti"},
      {"Spaced Header", "key", "spaced header value"},
      {"Case", "relay1name", "case folded"},
      {"Case", "blank key", "blanks around"},
      {"Case", "empty", ""},
      {"Case", "quoted", "  kept blanks  "},
      {"Case", "single", "single quoted"},
      {"Case", "mismatched", "\"open only"},
      {"Case", "semicolon", "a;b#c"},
      {"Case", "commented", std::nullopt},
      {"Case", ";commented", std::nullopt},
      {"Case", "no equals line", std::nullopt},
      {"Case", "[no closing bracket", "not a header"},
      {"Case", "dup", "first"},
      {"case", "other", std::nullopt},
      {"Case", "absent", std::nullopt},
      {"GBK", "\x81\x41", "upper"},
      {"GBK", "\x81\x61", "lower"},
      {"last", "end", "no final newline"},
      {"Missing", "end", std::nullopt},
      {"", "orphan", std::nullopt},
  };
  for (const Lookup& lookup : lookups) {
    SCOPED_TRACE("[" + lookup.section + "] " + lookup.key);
    const auto value = profile_value(text, lookup.section, lookup.key);
    EXPECT_EQ(value ? std::optional<std::string>(*value) : std::nullopt, lookup.value);
  }
}

TEST(ProfileText, EveryLineEndingSeparatesLines) {
  const std::string text = "[a]\r\nk1=v1\nk2=v2\rk3=v3\r\n[b]\n\rk4=v4";
  for (const auto& [section, key, value] : {Lookup{"a", "k1", "v1"}, Lookup{"a", "k2", "v2"},
                                            Lookup{"a", "k3", "v3"}, Lookup{"b", "k4", "v4"}}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(profile_value(text, section, key), value);
  }
}

TEST(ProfileText, WrittenValuesReadBackAsGiven) {
  for (const std::string value : {"", "pump", " pump", "pump\t", "\"pump\"", "'pump'", "\"", "a=b",
                                  "; not a comment", "[not a header]"}) {
    SCOPED_TRACE("value <" + value + ">");
    const std::string text =
        with_profile_value("[address 1]\r\n", "address 1", "relay1name", value);
    EXPECT_EQ(profile_value(text, "address 1", "relay1name"), value);
    const std::string again = with_profile_value(text, "address 1", "relay1name", value);
    EXPECT_EQ(again, text);
  }
}

}  // namespace
