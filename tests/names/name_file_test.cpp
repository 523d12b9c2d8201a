#include "names/name_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "names_test_support.h"
#include "recording_message_boxes.h"

namespace {

// Built line by line here, independently of the program's own writer.
std::string expected_default_file() {
  std::vector<std::string> lines = {"[Software properties]", "The name=Corvanti"};
  for (int address = 0; address <= 255; ++address) {
    lines.push_back("[address " + std::to_string(address) + "]");
    for (int relay = 1; relay <= 16; ++relay) {
      const std::string n = std::to_string(relay);
      lines.push_back("relay" + n + "name=relay" + n);
    }
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

const Message name_file_created{"name file created", "", MessageIcon::None};

class NameFileTest : public ::testing::Test {
 protected:
  TempFolder folder;
  std::filesystem::path path = folder / "name.txt";
  RecordingMessageBoxes messages;
  Module2 module2{messages};
  FakeNameView view;
  NameFile names{path, module2, messages, view};
};

TEST_F(NameFileTest, ExpectedTextHasTheDocumentedShape) {
  const std::string text = expected_default_file();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4354);
  EXPECT_TRUE(text.starts_with(
      "[Software properties]\r\nThe name=Corvanti\r\n[address 0]\r\nrelay1name=relay1\r\n"
      "relay2name=relay2\r\nrelay3name=relay3\r\nrelay4name=relay4\r\nrelay5name=relay5\r\n"
      "relay6name=relay6\r\nrelay7name=relay7\r\nrelay8name=relay8\r\nrelay9name=relay9\r\n"
      "relay10name=relay10\r\nrelay11name=relay11\r\nrelay12name=relay12\r\n"
      "relay13name=relay13\r\nrelay14name=relay14\r\nrelay15name=relay15\r\n"
      "relay16name=relay16\r\n[address 1]\r\n"));

  EXPECT_TRUE(text.ends_with("relay15name=relay15\r\nrelay16name=relay16\r\n"));
}

TEST_F(NameFileTest, FirstStartCreatesTheFileAndTellsTheOperatorInOrder) {
  names.init_name_file();
  EXPECT_EQ(messages.shown, (std::vector<Message>{{path.string() + " not found.", "File Not Found",
                                                   MessageIcon::Critical},
                                                  name_file_created}));
  EXPECT_EQ(view.captions, std::vector<std::string>{"Corvanti"});
  EXPECT_EQ(read_bytes(path), expected_default_file());
  EXPECT_EQ(folder.names(), std::vector<std::string>{"name.txt"});

  messages.shown.clear();
  names.load_names("1");
  for (int relay = 1; relay <= 16; ++relay) {
    EXPECT_EQ(view.labels[relay], "relay" + std::to_string(relay));
  }
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(NameFileTest, LaterStartTakesTheTitleFromTheFile) {
  const std::string title_line = "The name=Corvanti\r\n";
  const std::string base = expected_default_file();
  const std::size_t at = base.find(title_line);
  const struct {
    std::string file;
    std::string caption;
  } cases[] = {
      {base, "Corvanti"},
      {base.substr(0, at) + "The name=泵房 2\r\n" + base.substr(at + title_line.size()), "泵房 2"},
      {base.substr(0, at) + base.substr(at + title_line.size()), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.caption);
    write_bytes(path, c.file);
    view.captions.clear();
    names.init_name_file();
    EXPECT_EQ(view.captions, std::vector<std::string>{c.caption});
    EXPECT_EQ(read_bytes(path), c.file);
  }
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(folder.names(), std::vector<std::string>{"name.txt"});
}

TEST_F(NameFileTest, FileWithoutTheMarkerIsBackedUpThenReset) {
  for (const std::string old : {"[Address 0]\r\nrelay1name=mine\r\n", " [address 0]\r\n", ""}) {
    SCOPED_TRACE(old);
    write_bytes(folder / "name.txt.bak", "an older backup");
    write_bytes(path, old);
    messages.shown.clear();
    names.init_name_file();
    EXPECT_EQ(messages.shown, std::vector<Message>{name_file_created});
    EXPECT_EQ(read_bytes(path), expected_default_file());
    EXPECT_EQ(read_bytes(folder / "name.txt.bak"), old.empty() ? "an older backup" : old);
  }
}

TEST_F(NameFileTest, CreationFailureIsReportedInsteadOfSuccess) {
  write_bytes(folder / "program", "a file where the program's folder should be");
  std::filesystem::create_directories(folder / "folder" / "name.txt");
  const struct {
    std::filesystem::path path;
    std::string reason;
  } cases[] = {
      {folder / "program" / "name.txt", "Not a directory"},
      {folder / "folder" / "name.txt", "Is a directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    messages.shown.clear();
    view.captions.clear();
    NameFile(c.path, module2, messages, view).init_name_file();
    EXPECT_EQ(messages.shown,
              (std::vector<Message>{
                  {c.path.string() + " not found.", "File Not Found", MessageIcon::Critical},
                  {c.path.string() + " could not be created: " + c.reason, "File Error",
                   MessageIcon::Critical}}));
    EXPECT_EQ(view.captions, std::vector<std::string>{"Corvanti"});
  }
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"folder", "program"}));
}

TEST_F(NameFileTest, FailedBackupLeavesTheFileAsItIs) {
  const std::string old = "[Address 0]\r\nrelay1name=mine\r\n";
  write_bytes(path, old);
  std::filesystem::create_directory(folder / "name.txt.bak");
  names.init_name_file();
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_TRUE(messages.shown[0].text.starts_with((folder / "name.txt.bak").string() +
                                                 " could not be written: "));
  EXPECT_EQ(messages.shown[0].icon, MessageIcon::Critical);
  EXPECT_EQ(read_bytes(path), old);
}

TEST_F(NameFileTest, UnreadableFileIsNeitherResetNorBackedUp) {
  write_bytes(path, "[address 0]\r\nrelay1name=mine\r\n");
  std::filesystem::permissions(path, std::filesystem::perms::none);
  const int result = run_in_child([&] {
    if (!drop_root_rights()) return 10;
    RecordingMessageBoxes child_messages;
    Module2 child_module2(child_messages);
    FakeNameView child_view;
    NameFile(path, child_module2, child_messages, child_view).init_name_file();
    if (child_messages.shown.size() != 1) return 1;
    return child_messages.shown[0].text.ends_with("could not be read: Permission denied") ? 0 : 2;
  });
  EXPECT_EQ(result, 0);
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  EXPECT_EQ(read_bytes(path), "[address 0]\r\nrelay1name=mine\r\n");
  EXPECT_EQ(folder.names(), std::vector<std::string>{"name.txt"});
}

TEST_F(NameFileTest, LoadsTheSixteenNamesOfTheAddressTextAsTyped) {
  write_bytes(path, expected_default_file());
  std::string long_name;
  for (int i = 0; i < 127; ++i) long_name += "泵";
  ASSERT_EQ(module2.write_ini(path, "address 255", "relay16name", long_name), 1);
  ASSERT_EQ(module2.write_ini(path, "address 255", "relay1name", "first of the last"), 1);

  names.load_names("255");
  EXPECT_EQ(view.labels[1], "first of the last");
  EXPECT_EQ(view.labels[2], "relay2");
  EXPECT_EQ(view.labels[16], long_name);

  for (const std::string address : {"01", " 1", "256"}) {
    SCOPED_TRACE(address);
    names.load_names(address);
    ASSERT_EQ(view.labels.size(), 16u);
    for (const auto& [relay, name] : view.labels) EXPECT_EQ(name, "") << relay;
  }
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(NameFileTest, DeletedFileGivesOneMessagePerLabel) {
  names.load_names("1");
  EXPECT_EQ(messages.shown.size(), 16u);
  EXPECT_EQ(view.labels.size(), 16u);
  for (const auto& [relay, name] : view.labels) EXPECT_EQ(name, "") << relay;
}

}  // namespace
