#include "bridge/bridge_names.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "file_bytes.h"
#include "recording_message_boxes.h"

namespace {

std::string reason(std::errc error) {
  return std::make_error_code(error).message();
}

// Another program removes the file or puts something unreadable in its place while the
// bridge runs: the names stay the last good ones, and the log hears once per reason.
TEST(BridgeNameView, AnUnreadableFileKeepsTheNamesAndIsToldOncePerReason) {
  std::random_device seed;
  const auto folder =
      std::filesystem::temp_directory_path() / ("relay_bridge_names_" + std::to_string(seed()));
  std::filesystem::create_directory(folder);
  const auto path = folder / "name.txt";
  const auto names = [](const std::string& relay1) {
    return "[address 0]\r\n[address 1]\r\nrelay1name=" + relay1 + "\r\n";
  };
  write_bytes(path, names("Pump"));
  ProfileStore store;
  RecordingMessageBoxes messages;
  BridgeNameView view;
  NameFile file(path, store, messages, view);
  file.open_or_create();
  view.look(file);
  const std::string unreadable = path.string() + " could not be read: ";
  const std::string kept = "; the names stay as they were";
  const struct {
    std::function<void()> change;
    std::string look;
  } steps[] = {
      {[] {}, "same"},
      {[&] { std::filesystem::remove(path); },
       "same: " + unreadable + reason(std::errc::no_such_file_or_directory) + kept},
      {[] {}, "same"},
      {[&] { std::filesystem::create_directory(path); },
       "same: " + unreadable + reason(std::errc::is_a_directory) + kept},
      {[&] {
         std::filesystem::remove(path);
         write_bytes(path, names("Fan"));
       },
       "changed: " + path.string() + " can be read again"},
      {[] {}, "same"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.look);
    step.change();
    const NameFileLook look = view.look(file);
    EXPECT_EQ((look.changed ? "changed" : "same") + (look.news ? ": " + *look.news : ""),
              step.look);
  }
  EXPECT_EQ(view.read(file, {1}).relays[1][0], "Fan");
  EXPECT_TRUE(messages.shown.empty());
  std::filesystem::remove_all(folder);
}

}  // namespace
