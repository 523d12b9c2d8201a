// The virtual board's own logic: how it cuts the byte stream, what each command does to
// its relays and how each mode shapes the answer.
#include <gtest/gtest.h>

#include <vector>

#include "answer_mode.h"
#include "board_model.h"
#include "frame_reader.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> frames_in(const std::vector<Bytes>& chunks) {
  FrameReader reader;
  std::vector<Bytes> frames;
  for (const auto& chunk : chunks) {
    reader.feed(chunk);
    while (const auto frame = reader.next())
      frames.emplace_back(frame->bytes.begin(), frame->bytes.end());
  }
  return frames;
}

const Bytes query = {0x55, 0x01, 0x10, 0x00, 0x00, 0x00, 0x00, 0x66};

TEST(BoardFrameReader, FindsFramesInNoiseAndAcrossReads) {
  Bytes two = query;
  two.insert(two.end(), query.begin(), query.end());
  const Bytes bad_checksum = {0x55, 0x01, 0x10, 0x00, 0x00, 0x00, 0x00, 0x67};
  struct Case {
    const char* name;
    std::vector<Bytes> chunks;
    std::vector<Bytes> frames;
  };
  const Case cases[] = {
      {"one frame", {query}, {query}},
      {"split across reads", {{0x55, 0x01, 0x10}, {0x00, 0x00, 0x00, 0x00, 0x66}}, {query}},
      {"two in one read", {two}, {query, query}},
      {"noise before", {{0x00, 0xFF, 0x22}, query}, {query}},
      {"bad checksum, then a good frame", {bad_checksum, query}, {query}},
      {"cut-off frame, then a whole one", {{0x55, 0x01, 0x10}, query}, {query}},
      {"header byte inside noise", {{0x55, 0x55}, query}, {query}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(frames_in(c.chunks), c.frames);
  }
}

TEST(BoardModel, CommandsSwitchTheRelaysAsThePanelExpects) {
  BoardModel board(1);
  EXPECT_EQ(board.handle(CommandFrame::build(1, BoardCommand::QueryStatus, 0, 0)).bytes,
            (FrameBytes{0x22, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x23}));

  struct Step {
    BoardCommand command;
    std::uint8_t data1, data2;
    std::uint16_t opened_after;
  };
  const Step steps[] = {
      {BoardCommand::SwitchClosed, 0x00, 5, 0x0010},  // a closed relay clicked: opens
      {BoardCommand::SwitchClosed, 0x00, 16, 0x8010},
      {BoardCommand::SwitchOpened, 0x00, 5, 0x8000},   // an opened relay clicked: closes
      {BoardCommand::SwitchOpened, 0x00, 17, 0x8000},  // no relay 17
      {BoardCommand::SwitchAll, 0xFF, 0xFF, 0xFFFF},   // "Open all"
      {BoardCommand::SwitchAll, 0x80, 0x05, 0x8005},   // data1 relays 9..16, data2 1..8
      {BoardCommand::QueryStatus, 0x00, 0x00, 0x8005},
      {BoardCommand::SwitchAll, 0x00, 0x00, 0x0000},  // "Close all"
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(static_cast<int>(step.command));
    const StatusFrame answer =
        board.handle(CommandFrame::build(1, step.command, step.data1, step.data2));
    EXPECT_EQ(board.opened_mask(), step.opened_after);
    EXPECT_EQ(answer, StatusFrame::build(step.opened_after, 1));
    EXPECT_TRUE(answer.is_valid());
  }
  EXPECT_FALSE(board.addressed(CommandFrame::build(2, BoardCommand::QueryStatus, 0, 0)));
}

TEST(BoardAnswerMode, ShapesTheAnswer) {
  const StatusFrame frame = StatusFrame::build(0x8005, 0);  // 22 00 00 00 00 80 05 A7
  const Bytes good = {0x22, 0x00, 0x00, 0x00, 0x00, 0x80, 0x05, 0xA7};
  EXPECT_EQ(answer_bytes(frame, AnswerMode::Normal), good);
  EXPECT_EQ(answer_bytes(frame, AnswerMode::Late), good);
  EXPECT_EQ(answer_bytes(frame, AnswerMode::Silent), Bytes{});
  EXPECT_EQ(answer_bytes(frame, AnswerMode::BadChecksum),
            (Bytes{0x22, 0x00, 0x00, 0x00, 0x00, 0x80, 0x05, 0xA8}));
  EXPECT_EQ(answer_bytes(frame, AnswerMode::StrayByte),
            (Bytes{0x00, 0x22, 0x00, 0x00, 0x00, 0x00, 0x80, 0x05, 0xA7}));
}

}  // namespace
