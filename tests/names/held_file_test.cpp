// How the name file fares on Windows when the operator made it read-only or another
// program holds it open: the Windows counterparts of the POSIX permission cases.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "names/name_file.h"
#include "names_test_support.h"
#include "recording_message_boxes.h"
#include "told_store.h"

namespace {

const std::string old_file = "[Software properties]\r\nThe name=Corvanti\r\n";
const std::string new_file = old_file + "[address 1]\r\nrelay1name=pump\r\n";

class HeldFileTest : public ::testing::Test {
 protected:
  Message failed(const std::string& what, int windows_error) const {
    return {path.string() + " could not be " + what + ": " +
                reason_text(std::errc::permission_denied, windows_error),
            "File Error", MessageIcon::Critical};
  }

  TempFolder folder;
  std::filesystem::path path = folder / "name.txt";
  RecordingMessageBoxes messages;
  ToldStore profile_store{messages};
};

TEST_F(HeldFileTest, ReadOnlyFileIsReadButNeverReplaced) {
  write_bytes(path, old_file);
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(profile_store.write_value(path, "address 1", "relay1name", "pump"));
  EXPECT_EQ(messages.shown, std::vector<Message>{failed("written", windows_access_denied)});
  EXPECT_EQ(profile_store.read_value(path, "Software properties", "The name"), "Corvanti");
  EXPECT_EQ(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(read_bytes(path), old_file);
  EXPECT_EQ(folder.names(), std::vector<std::string>{"name.txt"});
}

// Windows will not rename over a file that is open anywhere. A program that lets others
// write gets the new text in the file it holds; one that does not keeps the old file,
// and the operator is told why. No temporary file stays behind either way.
TEST_F(HeldFileTest, FileHeldOpenByAnotherProgramIsWrittenWhereItsShareModeAllows) {
  const struct {
    std::string label;
    DWORD share;
    bool written;
  } holders[] = {
      {"shares reading, writing and deleting",
       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
      {"shares reading and writing", FILE_SHARE_READ | FILE_SHARE_WRITE, true},
      {"shares reading only", FILE_SHARE_READ, false},
      {"shares nothing", 0, false},  // not even reading
  };
  for (const auto& holder : holders) {
    SCOPED_TRACE(holder.label);
    messages.shown.clear();
    write_bytes(path, old_file);
    const HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, holder.share, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const bool result = profile_store.write_value(path, "address 1", "relay1name", "pump");
    const std::string name = profile_store.read_value(path, "address 1", "relay1name");
    CloseHandle(held);

    EXPECT_EQ(result, holder.written);
    // A program that does not even share reading stops the write at its first step.
    std::vector<Message> told;
    if (holder.share == 0) {
      told.assign(2, failed("read", windows_sharing_violation));
    } else if (!holder.written) {
      told.push_back(failed("written", windows_sharing_violation));
    }
    EXPECT_EQ(messages.shown, told);
    EXPECT_EQ(name, holder.written ? "pump" : "");
    EXPECT_EQ(read_bytes(path), holder.written ? new_file : old_file);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"name.txt"});
  }
}

// A device's name (NUL, COM1...) is a device in every folder: the start says so and
// makes nothing, and a rename writes nothing to it.
TEST_F(HeldFileTest, ADeviceNameIsRefusedAsADevice) {
  for (const char* name : {"NUL", "com1.txt"}) {
    SCOPED_TRACE(name);
    messages.shown.clear();
    const auto device = folder / name;
    FakeNameView view;
    NameFile(device, profile_store.store, messages, view).open_or_create();
    EXPECT_FALSE(profile_store.write_value(device, "address 1", "relay1name", "pump"));
    // The file, then its lock (a device too, whatever its extension), each time.
    ASSERT_EQ(messages.shown.size(), 3u);
    EXPECT_EQ(messages.shown[0].text,
              device.string() + " could not be read: it is a device, not a file");
    for (const Message& told : messages.shown) {
      EXPECT_TRUE(told.text.ends_with("it is a device, not a file")) << told.text;
    }
    EXPECT_EQ(folder.names(), std::vector<std::string>{});
  }
}

}  // namespace
