#include "names/name_file.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "names/rename_logic.h"
#include "names_test_support.h"
#include "recording_message_boxes.h"
#include "text/utf16.h"
#include "told_store.h"

namespace {

// Built line by line here, independently of the program's own writer: 4354 CR LF lines.
std::string expected_default_file(const std::string& title_line = "The name=Corvanti\r\n") {
  std::string text = "[Software properties]\r\n" + title_line;
  for (int address = 0; address <= 255; ++address) {
    text += "[address " + std::to_string(address) + "]\r\n";
    for (int relay = 1; relay <= 16; ++relay) {
      text += "relay" + std::to_string(relay) + "name=relay" + std::to_string(relay) + "\r\n";
    }
  }
  return text;
}

std::string repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

const Message name_file_created{"name file created", "", MessageIcon::None};

Message not_found(const std::filesystem::path& path) {
  return {path.string() + " not found.", "File Not Found", MessageIcon::Critical};
}

class NameFileTest : public ::testing::Test {
 protected:
  TempFolder folder;
  std::filesystem::path path = folder / "name.txt";
  RecordingMessageBoxes messages;
  ToldStore profile_store{messages};
  FakeNameView view;
  NameFile names{path, profile_store.store, messages, view};
};

TEST_F(NameFileTest, FirstStartCreatesTheFileAndTellsTheOperatorInOrder) {
  names.open_or_create();
  EXPECT_EQ(messages.shown, (std::vector<Message>{not_found(path), name_file_created}));
  EXPECT_EQ(view.captions, std::vector<std::string>{"Corvanti"});
  const std::string text = read_bytes(path);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4354);
  EXPECT_EQ(text, expected_default_file());
  EXPECT_EQ(folder.names(), std::vector<std::string>{"name.txt"});
}

// A file with the "[address 0]" line gives the title and stays as it is; any other is
// backed up (unless empty) and set up again.
TEST_F(NameFileTest, LaterStartTakesTheTitleOrResetsAFileWithoutTheMarker) {
  const struct {
    std::string before;
    std::string caption;
    bool reset;
    Where where = Where::everywhere;
  } cases[] = {
      {expected_default_file(), "Corvanti", false},
      {expected_default_file("The name=\xB1\xC3\xB7\xBF 2\r\n"), "泵房 2", false, Where::chinese},
      {expected_default_file("The name=泵房 2\r\n"), "泵房 2", false, Where::unmarked_utf8},
      {expected_default_file("The name=K\xFChlung\r\n"), "Kühlung", false, Where::western},
      {expected_default_file(""), "", false},
      {"[Address 0]\r\nrelay1name=mine\r\n", "Corvanti", true},
      {" [address 0]\r\n", "Corvanti", true},
      {"", "Corvanti", true},
  };
  for (const auto& c : cases) {
    if (!applies(c.where)) continue;
    SCOPED_TRACE(c.before.substr(0, 40));
    write_bytes(folder / "name.txt.bak", "an older backup");
    std::filesystem::remove(folder / "name.txt.bak.1");
    write_bytes(path, c.before);
    messages.shown.clear();
    view.captions.clear();
    names.open_or_create();
    EXPECT_EQ(view.captions, std::vector<std::string>{c.caption});
    EXPECT_EQ(messages.shown, std::vector<Message>(c.reset ? 1 : 0, name_file_created));
    EXPECT_EQ(read_bytes(path), c.reset ? expected_default_file() : c.before);
    // An older backup is never written over: the new one takes the next name.
    EXPECT_EQ(read_bytes(folder / "name.txt.bak"), "an older backup");
    const bool backed_up = c.reset && !c.before.empty();
    if (backed_up) {
      EXPECT_EQ(read_bytes(folder / "name.txt.bak.1"), c.before);
    }
    std::vector<std::string> kept{"name.txt", "name.txt.bak"};
    if (backed_up) kept.push_back("name.txt.bak.1");
    EXPECT_EQ(folder.names(), kept);
  }
}

// A file that cannot be created is reported instead of "name file created".
TEST_F(NameFileTest, CreationFailureIsReportedInsteadOfSuccess) {
  const auto under_file = folder / "program" / "name.txt", folder_named = folder / "f" / "name.txt";
  write_bytes(folder / "program", "a file where the program's folder should be");
  std::filesystem::create_directories(folder_named);
  const auto failed = [](const std::filesystem::path& file, const std::string& why) {
    return Message{file.string() + " could not be " + why, "File Error", MessageIcon::Critical};
  };
  const struct {
    std::filesystem::path path;
    std::vector<Message> told;
  } cases[] = {
      {under_file,
       {not_found(under_file),
        failed(under_file,
               "created: " + reason_text(std::errc::not_a_directory, windows_path_not_found))}},
      {folder_named, {failed(folder_named, "read: it is a folder, not a file")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    messages.shown.clear();
    view.captions.clear();
    NameFile(c.path, profile_store.store, messages, view).open_or_create();
    EXPECT_EQ(messages.shown, c.told);
    EXPECT_EQ(view.captions, std::vector<std::string>{"Corvanti"});
  }
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"f", "program"}));
}

// POSIX only by design: a child process without root rights meets a file it may not
// read, and the temporary files left behind are named for a process id that has ended
// (Windows reuses one temporary name, which the next write replaces).
#ifndef _WIN32
TEST_F(NameFileTest, UnreadableFileIsNeitherResetNorBackedUp) {
  write_bytes(path, "[address 0]\r\nrelay1name=mine\r\n");
  std::filesystem::permissions(path, std::filesystem::perms::none);
  const int result = run_in_child(ChildRole::operator_rights, [&] {
    names.open_or_create();
    const bool told = messages.shown.size() == 1 &&
                      messages.shown[0].text.ends_with("could not be read: Permission denied");
    return told ? 0 : 1;
  });
  EXPECT_EQ(result, 0);
  TempFolder::add_perms(path, std::filesystem::perms::owner_read);
  EXPECT_EQ(read_bytes(path), "[address 0]\r\nrelay1name=mine\r\n");
  EXPECT_EQ(folder.names(), std::vector<std::string>{"name.txt"});
}

// The temporary files of a program killed while writing are removed at start; nothing
// else in the folder is touched, not even the temporary file of a program still running.
TEST_F(NameFileTest, StartRemovesOnlyTheTemporariesOfEndedPrograms) {
  const std::string ended = std::to_string(ended_process_id());
  const std::string running = std::to_string(getpid());
  enum class Kind { file, folder, link };
  const struct {
    std::string name;
    Kind kind;
    bool removed;
  } entries[] = {
      {".name.txt." + ended + ".0.tmp", Kind::file, true},
      {".name.txt." + ended + ".17.tmp", Kind::file, true},
      {".name.txt.bak." + ended + ".3.tmp", Kind::file, true},
      {".name.txt." + running + ".0.tmp", Kind::file, false},
      {".name.txt.bak." + running + ".1.tmp", Kind::file, false},
      {".name.txt." + ended + ".1.tmp", Kind::folder, false},
      {".name.txt." + ended + ".2.tmp", Kind::link, false},
      {".other.txt." + ended + ".0.tmp", Kind::file, false},
      {"name.txt.tmp", Kind::file, false},
      {".name.txt.abc.tmp", Kind::file, false},
      {".name.txt." + ended + ".tmp", Kind::file, false},
      {".name.txt." + ended + ".x.tmp", Kind::file, false},
      {".name.txt." + ended + ".0.tmp.old", Kind::file, false},
      {"x.name.txt." + ended + ".0.tmp", Kind::file, false},
      {".name.txt.+" + ended + ".0.tmp", Kind::file, false},
      // Not programs: -1 and 0 would name every process or a process group.
      {".name.txt.-1.0.tmp", Kind::file, false},
      {".name.txt.0.0.tmp", Kind::file, false},
      {".name.txt.99999999999999999999.0.tmp", Kind::file, false},
  };
  write_bytes(path, expected_default_file());
  write_bytes(folder / "name.txt.bak", "an older backup");
  std::vector<std::string> kept{"name.txt", "name.txt.bak"};
  for (const auto& entry : entries) {
    const auto entry_path = folder / entry.name;
    if (entry.kind == Kind::file) write_bytes(entry_path, "part of a file");
    if (entry.kind == Kind::folder) std::filesystem::create_directory(entry_path);
    if (entry.kind == Kind::link) std::filesystem::create_symlink("name.txt", entry_path);
    if (!entry.removed) kept.push_back(entry.name);
  }
  std::sort(kept.begin(), kept.end());
  names.open_or_create();
  EXPECT_EQ(folder.names(), kept);
  EXPECT_EQ(read_bytes(path), expected_default_file());
  EXPECT_EQ(view.captions, std::vector<std::string>{"Corvanti"});
  EXPECT_TRUE(messages.shown.empty());
}
#endif  // _WIN32

TEST_F(NameFileTest, LoadsTheSixteenNamesOfTheAddressTextAsTyped) {
  write_bytes(path, expected_default_file());
  ASSERT_TRUE(profile_store.write_value(path, "address 255", "relay1name", "first of the last"));
  const std::string last = chinese_code_page() ? "泵房的最后一个" : "Kühlung, die letzte";
  ASSERT_TRUE(profile_store.write_value(path, "address 255", "relay16name", last));
  names.load_names("255");
  EXPECT_EQ(view.labels[1], "first of the last");
  EXPECT_EQ(view.labels[2], "relay2");
  EXPECT_EQ(view.labels[16], last);

  std::map<int, std::string> blank;
  for (int relay = 1; relay <= 16; ++relay) blank[relay] = "";
  for (const std::string address : {"01", " 1", "256"}) {
    SCOPED_TRACE(address);
    view.labels.clear();
    names.load_names(address);
    EXPECT_EQ(view.labels, blank);
  }
  EXPECT_TRUE(messages.shown.empty());

  std::filesystem::remove(path);  // deleted while the program runs: one message per label
  view.labels.clear();
  names.load_names("1");
  EXPECT_EQ(messages.shown, std::vector<Message>(16, not_found(path)));
  EXPECT_EQ(view.labels, blank);
}

// The window's reload after a change on disk says nothing, and leaves the view as it is
// while the file is missing or not set up (being replaced or edited).
TEST_F(NameFileTest, ReloadIsQuietAndWaitsForASetUpFile) {
  for (const std::string file : {"", "[address 1]\r\nrelay1name=pump\r\n"}) {
    std::filesystem::remove(path);
    if (!file.empty()) write_bytes(path, file);
    names.reload("1");
  }
  EXPECT_TRUE(view.captions.empty());
  EXPECT_TRUE(view.labels.empty());
  EXPECT_TRUE(messages.shown.empty());
}

// A change beside the file (another file of its folder) leaves the view alone; a change
// of the file itself reaches it.
TEST_F(NameFileTest, ReloadShowsOnlyAChangedFile) {
  write_bytes(path, "[address 0]\r\n[address 1]\r\nrelay1name=pump\r\n");
  names.reload("1");
  EXPECT_EQ(view.labels[1], "pump");
  view.labels.clear();
  view.captions.clear();
  names.reload("1");
  EXPECT_TRUE(view.labels.empty());
  EXPECT_TRUE(view.captions.empty());
  write_bytes(path, "[address 0]\r\n[address 1]\r\nrelay1name=valve\r\n");
  names.reload("1");
  EXPECT_EQ(view.labels[1], "valve");
  EXPECT_TRUE(messages.shown.empty());
}

// The rename dialog, which the main window gives the latest address and relay.
class RenameLogicTest : public NameFileTest {
 protected:
  RenameLogic dialog(const std::string& address, const std::string& relay) {
    write_bytes(path, stored);
    RenameLogic logic(path, profile_store.store);
    logic.address_text = address;
    logic.relay_text = relay;
    return logic;
  }
  const std::string stored =
      "[address 3]\r\nrelay7name=valve\r\n[address 255]\r\nrelay16name=last\r\n";
};

TEST_F(RenameLogicTest, LoadShowsTheStoredNameOnlyForAddressesAndRelaysInRange) {
  const struct {
    std::string address;
    std::string relay;
    std::string shown;
  } in_range[] = {
      // "03" converts to 3, but the section is built from the text.
      {"3", "7", "valve"}, {"255", "16", "last"}, {"3", "8", ""},
      {"0", "1", ""},      {"03", "7", ""},       {"2.5", "7", ""},
  };
  for (const auto& c : in_range) {
    EXPECT_EQ(dialog(c.address, c.relay).stored_name().name, c.shown)
        << c.address << "/" << c.relay;
  }
  // Out of range or no 16-bit number: nothing, and the box keeps "Text1".
  for (const std::string address : {"256", "", "abc", "-1", "40000"}) {
    EXPECT_EQ(dialog(address, "7").stored_name().name, std::nullopt) << address;
  }
  for (const std::string relay : {"0", "17", "x"}) {
    EXPECT_EQ(dialog("3", relay).stored_name().name, std::nullopt) << relay;
  }
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(RenameLogicTest, OkWritesTheTextUnderTheLatestAddressAndRelay) {
  const std::string after_3 = "\r\n[address 255]\r\nrelay16name=last\r\n";
  dialog("3", "7").store("pump");
  EXPECT_EQ(read_bytes(path), "[address 3]\r\nrelay7name=pump" + after_3);
  dialog("3", "7").store("");
  EXPECT_EQ(read_bytes(path), "[address 3]\r\nrelay7name=" + after_3);
  dialog("300", "2").store("far");
  EXPECT_EQ(read_bytes(path), stored + "[address 300]\r\nrelay2name=far\r\n");
  EXPECT_TRUE(messages.shown.empty());
}

// The dialog's logic shows nothing itself: a file gone since the start comes back as the
// error for the dialog to show, with an empty name to load and nothing stored.
TEST_F(RenameLogicTest, AMissingFileComesBackAsTheErrorToShow) {
  RenameLogic logic(path, profile_store.store);
  logic.address_text = "3";
  logic.relay_text = "7";
  const StoredName loaded = logic.stored_name();
  EXPECT_EQ(loaded.name, "");
  EXPECT_EQ(loaded.error, not_found(path));
  const RenameOutcome outcome = logic.store("pump");
  EXPECT_FALSE(outcome.stored);
  EXPECT_EQ(outcome.error, not_found(path));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(messages.shown.empty());
}

// A name must read back as stored: one longer than a read gives back (254 units of the
// file's encoding) is refused with its length, and nothing is written.
TEST_F(RenameLogicTest, ANameLongerThanAReadGivesBackIsRefused) {
  const std::string chinese = "\xE5\x80\xBC";  // 2 bytes in GB18030, 1 UTF-16 unit
  const std::string utf16 = "\xFF\xFE" + utf8_to_utf16le("[address 3]\r\n");
  const struct {
    std::string file, name, refused;  // refused: empty when stored
    Where where = Where::everywhere;
  } cases[] = {
      {stored, std::string(254, 'a'), ""},
      {stored, std::string(255, 'a'), "255 bytes"},
      {stored, repeat(chinese, 128), "256 bytes", Where::chinese},
      {utf16, repeat(chinese, 254), ""},
      {utf16, repeat(chinese, 253) + "\xF0\xA0\x80\x80", "255 UTF-16 code units"},
  };
  for (const auto& c : cases) {
    if (!applies(c.where)) continue;
    RenameLogic logic = dialog("3", "7");
    write_bytes(path, c.file);
    const RenameOutcome outcome = logic.store(c.name);
    EXPECT_EQ(outcome.stored, c.refused.empty()) << c.refused;
    EXPECT_EQ(outcome.error.value_or(Message{}).text,
              c.refused.empty() ? ""
                                : "The name was not stored: it takes " + c.refused +
                                      " in the name file, and a name can hold at most 254. "
                                      "Shorten it and press OK again.");
    EXPECT_TRUE(c.refused.empty() || read_bytes(path) == c.file);
  }
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
