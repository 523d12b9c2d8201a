#include "bridge/bridge_names.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "recording_message_boxes.h"

namespace {

TEST(BridgeNames, TheNameFileGivesTitleAndNamesAndTellsWhenItChanged) {
  std::random_device seed;
  const auto folder =
      std::filesystem::temp_directory_path() / ("relay_bridge_names_" + std::to_string(seed()));
  std::filesystem::create_directory(folder);
  const auto path = folder / "name.txt";
  const auto write = [&](const std::string& title) {
    std::ofstream(path, std::ios::binary)
        << "[Software properties]\r\nThe name=" << title
        << "\r\n[address 0]\r\n[address 3]\r\nrelay1name=Well\r\nrelay16name=<b>Gate</b>\r\n";
  };
  write("Pump house");
  ProfileStore store;
  RecordingMessageBoxes messages;
  BridgeNameView view;
  NameFile file(path, store, messages, view);
  file.open_or_create();

  const BridgeNames names = view.read(file, {3, 4});
  EXPECT_EQ(names.title, "Pump house");
  std::array<std::string, relay_count> board3{"Well"};
  board3[15] = "<b>Gate</b>";
  EXPECT_EQ(names.relays, (decltype(names.relays){{3, board3}, {4, {}}}));

  EXPECT_TRUE(view.changed_on_disk(file));  // never looked at before
  EXPECT_FALSE(view.changed_on_disk(file));
  write("Pump hut");
  EXPECT_TRUE(view.changed_on_disk(file));
  EXPECT_EQ(view.read(file, {3}).title, "Pump hut");
  EXPECT_TRUE(messages.shown.empty());
  std::filesystem::remove_all(folder);
}

}  // namespace
