#include "common/duration_text.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

TEST(Durations, AreWholeMillisecondsInMsSecondsMinutesOrHours) {
  const std::pair<const char*, long> rows[] = {
      {"500ms", 500},
      {"2s", 2000},
      {"1.5s", 1500},
      {"0.25s", 250},
      {"1ms", 1},
      {"0.001s", 1},
      {"86400s", 86'400'000},
      {"1.5m", 90'000},
      {"0.0001m", 6},
      {"0.25h", 900'000},
      // Not durations:
      {"500", -1},
      {"5d", -1},
      {"0.00001m", -1},
      {"24.001h", -1},
      {"0ms", -1},
      {"-1s", -1},
      {"-0.5s", -1},
      {"-0s", -1},
      {"10.-0m", -1},
      {"+5s", -1},
      {"1.5ms", -1},
      {"0.0001s", -1},
      {"s", -1},
      {"ms", -1},
      {"1.s", -1},
      {"86401s", -1},
      {" 5s", -1},
      {"5 s", -1},
  };
  for (const auto& [text, ms] : rows) {
    SCOPED_TRACE(text);
    const auto parsed = parse_duration(text);
    if (ms < 0) {
      EXPECT_FALSE(parsed) << parsed->count();
    } else {
      ASSERT_TRUE(parsed);
      EXPECT_EQ(parsed->count(), ms);
    }
  }
}

}  // namespace
