#include "bridge/bridge_names.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "bridge/name_command.h"
#include "file_bytes.h"
#include "names/disk_file.h"
#include "recording_message_boxes.h"

namespace {

// Another program removes the file or puts something unreadable in its place while the
// bridge runs: the names stay the last good ones, and the log hears once per reason.
TEST(BridgeNameView, AnUnreadableFileKeepsTheNamesAndIsToldOncePerReason) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("relay_bridge_names_" + std::to_string(std::random_device()()) + ".txt");
  const auto names = [&](const std::string& relay1) {
    std::filesystem::remove_all(path);
    write_bytes(path, "[address 0]\r\n[address 1]\r\nrelay1name=" + relay1 + "\r\n");
  };
  names("Pump");
  ProfileStore store;
  RecordingMessageBoxes messages;
  BridgeNameView view;
  NameFile file(path, store, messages, view);
  file.open_or_create();
  view.look(file);
  const std::string unreadable = "same: " + path.string() + " could not be read: ";
  const std::string kept = "; the names stay as they were";
  const std::pair<std::function<void()>, std::string> steps[] = {
      {[] {}, "same"},
      {[&] { std::filesystem::remove(path); },
       unreadable + std::make_error_code(std::errc::no_such_file_or_directory).message() + kept},
      {[] {}, "same"},
      {[&] { std::filesystem::create_directory(path); },
       unreadable + make_error_code(FileRefusal::folder).message() + kept},
      {[&] { names("Fan"); }, "changed: " + path.string() + " can be read again"},
  };
  for (const auto& [change, expected] : steps) {
    change();
    const NameFileLook look = view.look(file);
    EXPECT_EQ((look.changed ? "changed" : "same") + (look.news ? ": " + *look.news : ""), expected);
  }
  EXPECT_EQ(view.read(file, {1}).relays[1][0], "Fan");
  EXPECT_TRUE(messages.shown.empty());
  std::filesystem::remove(path);
}

// The reasons are the local rename's own tests'; here, that a rename sent to the bridge
// goes through them and the lock, and changes one line of a hand-written file.
TEST(NameCommand, ARenameGoesThroughTheLocalChecksAndTouchesOneLine) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("relay_name_command_" + std::to_string(std::random_device()()) + ".txt");
  const std::string head = "[address 0]\r\n[address 3]\r\n; by hand\nrelay2name = Fan \r\n";
  const std::pair<std::string, CommandOutcome> rows[] = {
      {"Pump\n3", CommandOutcome::refused},
      {"\xB1\xC3", CommandOutcome::refused},  // GB18030, not UTF-8
      {"泵", CommandOutcome::done},
  };
  ProfileStore store;
  write_bytes(path, head);
  for (const auto& [name, outcome] : rows) {
    EXPECT_EQ(rename_relay(path, store, 3, 2, name).outcome, outcome) << name;
  }
  EXPECT_EQ(read_bytes(path), "[address 0]\r\n[address 3]\r\n; by hand\nrelay2name = \xB1\xC3\r\n");
  std::filesystem::remove(path);
  EXPECT_EQ(rename_relay(path, store, 3, 2, "Fan").reason, path.string() + " not found.");
}

}  // namespace
