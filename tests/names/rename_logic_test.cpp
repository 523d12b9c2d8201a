#include "names/rename_logic.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "names/default_name_text.h"
#include "names_test_support.h"
#include "recording_message_boxes.h"

namespace {

class RenameLogicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    write_bytes(path, "[address 3]\r\nrelay7name=valve\r\n[address 255]\r\nrelay16name=last\r\n");
  }
  RenameLogic dialog(const std::string& address, const std::string& relay) {
    RenameLogic logic(path, module2);
    logic.add = address;
    logic.xianlu = relay;
    return logic;
  }

  TempFolder folder;
  std::filesystem::path path = folder / "name.txt";
  RecordingMessageBoxes messages;
  Module2 module2{messages};
};

TEST_F(RenameLogicTest, LoadShowsTheStoredNameOnlyForAddressesAndRelaysInRange) {
  const struct {
    std::string address;
    std::string relay;
    std::optional<std::string> shown;  // nothing: the box keeps "Text1"
  } cases[] = {
      {"3", "7", "valve"},
      {"255", "16", "last"},
      {"3", "8", ""},
      {"0", "1", ""},
      {"03", "7", ""},  // converts to 3, but the section is built from the text
      {"2.5", "7", ""},
      {"256", "1", std::nullopt},
      {"3", "0", std::nullopt},
      {"3", "17", std::nullopt},
      {"", "7", std::nullopt},
      {"abc", "7", std::nullopt},
      {"-1", "7", std::nullopt},
      {"40000", "7", std::nullopt},
      {"3", "x", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("address \"" + c.address + "\", relay \"" + c.relay + "\"");
    EXPECT_EQ(dialog(c.address, c.relay).Form_Load(), c.shown);
  }
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(RenameLogicTest, OkWritesTheTextUnderTheLatestAddressAndRelay) {
  const struct {
    std::string address;
    std::string relay;
    std::string text;
    std::string file_after;
  } cases[] = {
      {"3", "7", "pump", "[address 3]\r\nrelay7name=pump\r\n[address 255]\r\nrelay16name=last\r\n"},
      {"3", "7", "valve",
       "[address 3]\r\nrelay7name=valve\r\n[address 255]\r\nrelay16name=last\r\n"},
      {"3", "7", "", "[address 3]\r\nrelay7name=\r\n[address 255]\r\nrelay16name=last\r\n"},
      {"300", "2", "far",
       "[address 3]\r\nrelay7name=valve\r\n[address 255]\r\nrelay16name=last\r\n"
       "[address 300]\r\nrelay2name=far\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address + "/" + c.relay + " <- \"" + c.text + "\"");
    SetUp();
    dialog(c.address, c.relay).Command_ok_Click(c.text);
    EXPECT_EQ(read_bytes(path), c.file_after);
  }
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
