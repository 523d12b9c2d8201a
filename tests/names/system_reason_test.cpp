#include <gtest/gtest.h>

#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "names/file_messages.h"
#include "names_test_support.h"
#include "text/utf8.h"

namespace fs = std::filesystem;

namespace {

bool holds_chinese(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = utf8_sequence_length(text, pos);
    if (length == 0) return false;
    const char32_t c = utf8_code_point(text, pos, length);
    if (c >= U'\u4e00' && c <= U'\u9fff') return true;
    pos += length;
  }
  return false;
}

std::error_code system_reason([[maybe_unused]] std::errc posix, [[maybe_unused]] int windows) {
#ifdef _WIN32
  return {windows, std::system_category()};
#else
  return std::make_error_code(posix);
#endif
}

}  // namespace

// The reasons the system gives for the name file's failures, as the operator reads them
// in a box or relayctl's output: UTF-8 in the system's language (Chinese on a Chinese
// Windows, not its ANSI bytes), on one line, and ending where the sentence goes on.
TEST(SystemReason, NameFileFailuresGiveTheSystemsReasonAsOneLineOfUtf8) {
  const fs::path lost = fs::temp_directory_path() / "missing" / "name.txt";
  const std::string written = path_text(lost) + " could not be written: ";
  const std::vector<std::pair<std::errc, int>> failures = {
      {std::errc::no_such_file_or_directory, windows_path_not_found},
      {std::errc::permission_denied, windows_access_denied},
      {std::errc::device_or_resource_busy, windows_sharing_violation},
  };
  for (const auto& [posix, windows] : failures) {
    const std::string text =
        file_failure_message(lost, "written", system_reason(posix, windows)).text;
    SCOPED_TRACE(text);
    EXPECT_TRUE(is_valid_utf8(text));
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
    ASSERT_EQ(text.substr(0, written.size()), written);
    const std::string reason = text.substr(written.size());
    ASSERT_FALSE(reason.empty());
    EXPECT_NE(reason.back(), '.');
    if (ansi_code_page() == 936) {
      EXPECT_TRUE(holds_chinese(reason));
    }
  }
}
