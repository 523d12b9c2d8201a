#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <system_error>

#include "names/file_messages.h"
#include "names_test_support.h"
#include "text/utf8.h"

#ifdef _WIN32
// The reasons Windows gives for the name file's failures, as the operator reads them in
// a box or relayctl's output: UTF-8 in the system's language (Chinese on a Chinese
// Windows, not its ANSI bytes), on one line, and ending where the sentence goes on.
TEST(SystemReason, NameFileFailuresGiveWindowsReasonAsOneLineOfUtf8) {
  const auto lost = std::filesystem::temp_directory_path() / "missing" / "name.txt";
  const std::string written = path_text(lost) + " could not be written: ";
  for (const int error :
       {windows_path_not_found, windows_access_denied, windows_sharing_violation}) {
    const std::string text =
        file_failure_message(lost, "written", {error, std::system_category()}).text;
    SCOPED_TRACE(text);
    EXPECT_TRUE(is_valid_utf8(text));
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
    ASSERT_GT(text.size(), written.size());
    ASSERT_EQ(text.substr(0, written.size()), written);
    EXPECT_NE(text.back(), '.');
    // A lead byte of U+4000 to U+9FFF: the common Chinese characters.
    const auto chinese = [](unsigned char byte) { return byte >= 0xE4 && byte <= 0xE9; };
    if (ansi_code_page() == 936) {
      EXPECT_TRUE(std::any_of(text.begin() + written.size(), text.end(), chinese));
    }
  }
}
#endif
