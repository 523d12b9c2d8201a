#include "bridge/name_command.h"

#include <gtest/gtest.h>

#include <random>

#include "file_bytes.h"

namespace {

TEST(NameCommand, NamesAreOneJsonDocumentOfTitleAndSixteenNames) {
  std::array<std::string, relay_count> names{"Pump \"A\"", "泵", "bad \xFF byte"};
  names[15] = "Lamp\\16";
  EXPECT_EQ(board_names_json("Site 1", names),
            R"({"title":"Site 1","names":["Pump \"A\"","泵","bad \ufffd byte",)"
            R"("","","","","","","","","","","","","Lamp\\16"]})");
}

// A GB18030 file with CRLF and a hand-written line: a rename changes its one line alone,
// and a refused one nothing at all.
TEST(NameCommand, ARenameStoresThroughTheLocalChecksAndTouchesOneLine) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("relay_name_command_" + std::to_string(std::random_device()()) + ".txt");
  const std::string original =
      "[title]\r\ntitle=Site\r\n[address 0]\r\n[address 3]\r\nrelay1name=\xB1\xC3\r\n"
      "; by hand\nrelay2name = Fan \r\n";
  const std::string line_break =
      "The name was not stored: it holds a line break, and a name is one line of the name file.";
  const struct {
    int relay;
    std::string name;
    CommandOutcome outcome;
    std::string reason, file;  // the file's bytes when the name was stored
  } rows[] = {
      {2, "泵 2", CommandOutcome::done, "",
       "[title]\r\ntitle=Site\r\n[address 0]\r\n[address 3]\r\nrelay1name=\xB1\xC3\r\n"
       "; by hand\nrelay2name = \xB1\xC3 2\r\n"},
      {5, "Lamp\r\n", CommandOutcome::done, "",
       "[title]\r\ntitle=Site\r\n[address 0]\r\n[address 3]\r\nrelay1name=\xB1\xC3\r\n"
       "; by hand\nrelay2name = Fan \r\nrelay5name=Lamp\r\n"},
      {2, "Pump\n3", CommandOutcome::refused, line_break, ""},
      {2, "泵\uE78D", CommandOutcome::refused,
       "The name was not stored: the name file cannot hold the character \"\uE78D\" (U+E78D).", ""},
      {2, std::string(255, 'x'), CommandOutcome::refused,
       "The name was not stored: it takes 255 bytes in the name file, and a name can hold at "
       "most 254.",
       ""},
      {2, "\xB1\xC3", CommandOutcome::refused, "The name was not stored: it is not UTF-8 text.",
       ""},
  };
  ProfileStore store;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    write_bytes(path, original);
    const RenameAnswer answer = rename_relay(path, store, 3, row.relay, row.name);
    EXPECT_EQ(answer.outcome, row.outcome);
    EXPECT_EQ(answer.reason, row.reason);
    EXPECT_EQ(read_bytes(path), row.file.empty() ? original : row.file);
  }
  std::filesystem::remove(path);
  const RenameAnswer gone = rename_relay(path, store, 3, 1, "Pump");
  EXPECT_EQ(gone.outcome, CommandOutcome::not_done);
  EXPECT_EQ(gone.reason, path.string() + " not found.");
  EXPECT_EQ(rename_relay({}, store, 3, 1, "Pump").outcome, CommandOutcome::refused);
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
