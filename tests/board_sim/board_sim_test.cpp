// The virtual board's own logic: how it cuts the byte stream, what each command does to
// its relays (the answer modes are tested end to end).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "board_model.h"
#include "com_link.h"
#include "frame_reader.h"
#include "link_rig.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(BoardFrameReader, FindsFramesInNoiseAndAcrossReads) {
  const std::string query = "55 01 10 00 00 00 00 66";
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    int frames;  // status queries found
  };
  const Case cases[] = {
      {"one frame", {query}, 1},
      {"split across reads", {"55 01 10", "00 00 00 00 66"}, 1},
      {"two in one read", {query + " " + query}, 2},
      {"noise before", {"00 FF 22", query}, 1},
      {"bad checksum, then a good frame", {"55 01 10 00 00 00 00 67", query}, 1},
      {"cut-off frame, then a whole one", {"55 01 10", query}, 1},
      {"header byte inside noise", {"55 55", query}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FrameReader reader;
    std::vector<Bytes> found;
    for (const auto& chunk : c.chunks) {
      reader.feed(hex_bytes(chunk));
      while (const auto frame = reader.next())
        found.emplace_back(frame->bytes.begin(), frame->bytes.end());
    }
    EXPECT_EQ(found, std::vector<Bytes>(c.frames, hex_bytes(query)));
  }
}

TEST(BoardModel, CommandsSwitchTheRelaysAsThePanelExpects) {
  BoardModel board(1);
  EXPECT_EQ(hex_text(board.handle(CommandFrame::build(1, BoardCommand::QueryStatus, 0, 0)).bytes),
            "22 01 00 00 00 00 00 23");
  struct Step {
    BoardCommand command;
    std::uint8_t data1, data2;
    std::uint16_t opened_after;
  };
  const Step steps[] = {
      {BoardCommand::OpenRelay, 0x00, 5, 0x0010},  // a closed relay clicked: opens
      {BoardCommand::OpenRelay, 0x00, 16, 0x8010},
      {BoardCommand::CloseRelay, 0x00, 5, 0x8000},       // an opened relay clicked: closes
      {BoardCommand::CloseRelay, 0x00, 17, 0x8000},      // no relay 17
      {BoardCommand::SetAllRelays, 0xFF, 0xFF, 0xFFFF},  // "Open all"
      {BoardCommand::SetAllRelays, 0x80, 0x05, 0x8005},  // data1 relays 9..16, data2 1..8
      {BoardCommand::QueryStatus, 0x00, 0x00, 0x8005},
      {BoardCommand::SetAllRelays, 0x00, 0x00, 0x0000},  // "Close all"
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(static_cast<int>(step.command));
    const StatusFrame answer =
        board.handle(CommandFrame::build(1, step.command, step.data1, step.data2));
    EXPECT_EQ(board.opened_mask(), step.opened_after);
    EXPECT_EQ(answer, StatusFrame::build(step.opened_after, 1));
  }
  EXPECT_FALSE(board.addressed(CommandFrame::build(2, BoardCommand::QueryStatus, 0, 0)));
}

// A fresh account has no ~/.config/relay_panel: the board makes it, for its user alone,
// and leaves a folder that is there as it was.
TEST(BoardComLink, MakesAMissingFolderForThisUserOnly) {
  namespace fs = std::filesystem;
  std::string home = (fs::temp_directory_path() / "sim-home-XXXXXX").string();
  ASSERT_NE(::mkdtemp(home.data()), nullptr);
  ::chmod(home.c_str(), 0755);
  const fs::path folder = fs::path(home) / ".config" / "relay_panel";
  std::string error;
  {
    auto link = ComLink::create(folder, 3, "/dev/null", error);
    ASSERT_TRUE(link) << error;
    EXPECT_EQ(fs::read_symlink(folder / "com3"), "/dev/null");
    for (const auto& made : {folder, folder.parent_path()}) {
      struct stat st {};
      ASSERT_EQ(::stat(made.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0700u) << made;
      EXPECT_EQ(st.st_uid, ::getuid()) << made;
    }
    struct stat st {};
    ASSERT_EQ(::stat(home.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
  }
  EXPECT_FALSE(fs::is_symlink(folder / "com3"));
  EXPECT_FALSE(ComLink::create("/dev/null/x", 1, "/dev/null", error));
  EXPECT_NE(error.find("/dev/null/x"), std::string::npos) << error;
  fs::remove_all(home);
}

}  // namespace
