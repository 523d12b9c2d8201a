// relayctl.exe's watch ends once nobody reads its output: what it asks of the pipe.
#include <gtest/gtest.h>
#include <windows.h>

#include "standard_output.h"

namespace {

// Standard output redirected to a pipe of the test's own while it lives.
struct OutputPipe {
  OutputPipe() {
    EXPECT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
    before = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, writer);
  }
  ~OutputPipe() {
    SetStdHandle(STD_OUTPUT_HANDLE, before);
    CloseHandle(writer);
    if (reader != nullptr) CloseHandle(reader);
  }
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  HANDLE before = nullptr;
};

}  // namespace

TEST(StandardOutputOnWindows, APipeCountsAsClosedOnlyOnceItsReaderHasGone) {
  OutputPipe pipe;
  EXPECT_FALSE(standard_output_closed());
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(pipe.writer, "unread\n", 7, &written, nullptr));
  EXPECT_FALSE(standard_output_closed());  // a reader that is slow is still there
  CloseHandle(pipe.reader);
  pipe.reader = nullptr;
  EXPECT_TRUE(standard_output_closed());
}

TEST(StandardOutputOnWindows, AFileIsNeverClosed) {
  const HANDLE before = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE null_file =
      CreateFileW(L"NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(null_file, INVALID_HANDLE_VALUE);
  SetStdHandle(STD_OUTPUT_HANDLE, null_file);
  EXPECT_FALSE(standard_output_closed());
  SetStdHandle(STD_OUTPUT_HANDLE, before);
  CloseHandle(null_file);
}
