#include <QProcess>

#include "form_fixture.h"
#include "link_qt/qt_serial_port.h"

namespace {

constexpr int wait_ms = 3000;

// The whole panel over its real serial port, with the virtual board linked as com1 in
// the program's folder, as an operator without hardware runs it.
TEST(PanelBoard, OperatorSwitchesRelaysOfTheVirtualBoard) {
  QTemporaryDir dir;
  const std::filesystem::path program_dir = dir.path().toStdString();
  write_file(program_dir / "name.txt", name_file_text());
  QProcess board;  // stopped last, when the panel has let go of the line
  board.start(RELAY_BOARD_SIM,
              {"--link-dir", dir.path(), "--port", "1", "--address", "1", "--verbose"});
  ASSERT_TRUE(board.waitForReadyRead(wait_ms));
  ASSERT_TRUE(board.readLine().startsWith("/dev/pts/"));
  QByteArray board_log;
  // Frames the board has received so far (it logs each one on stderr).
  const auto frames_at_board = [&] {
    board_log += board.readAllStandardError();
    return board_log.count("<-");
  };

  RecordingMessageBoxes messages;
  QtSerialPort port(program_dir);
  main_form form(program_dir, messages, port);
  form.Form_Initialize();
  form.show();
  const auto box = [&](int relay) {
    return form.findChild<IndicatorBox*>(QStringLiteral("Picture1_%1").arg(relay));
  };
  const auto all_boxes = [&](Colour colour) {
    for (int relay = 1; relay <= 16; ++relay) {
      if (box(relay)->colour() != colour) return false;
    }
    return true;
  };
  auto* open_comm = form.findChild<QPushButton*>("open_comm");

  QTest::mouseClick(open_comm, Qt::LeftButton);
  ASSERT_TRUE(messages.shown.empty()) << messages.shown.front().text;
  EXPECT_EQ(open_comm->text(), "close com");

  // The board starts with every relay closed.
  EXPECT_TRUE(QTest::qWaitFor([&] { return all_boxes(colour_red); }, wait_ms));
  QTest::mouseClick(box(5), Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return box(5)->colour() == colour_green; }, wait_ms));
  EXPECT_EQ(box(4)->colour(), colour_red);
  QTest::mouseClick(box(5), Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return box(5)->colour() == colour_red; }, wait_ms));

  // Between commands the panel keeps asking for the board's state, once per tick.
  const auto frames_before = frames_at_board();
  QTest::qWait(500);
  EXPECT_GE(frames_at_board() - frames_before, 5);
  EXPECT_EQ(box(5)->colour(), colour_red);

  // Addressing a board that is not there: nothing answers any more.
  form.findChild<QLineEdit*>("add")->setText("2");
  EXPECT_TRUE(QTest::qWaitFor([&] { return all_boxes(colour_yellow); }, wait_ms));

  QTest::mouseClick(open_comm, Qt::LeftButton);
  EXPECT_TRUE(all_boxes(colour_system_grey_text));
  EXPECT_EQ(open_comm->text(), "open com");
  // Let anything already on the line arrive, then make sure nothing more is sent.
  QTest::qWait(200);
  const auto frames_after_close = frames_at_board();
  QTest::qWait(400);
  EXPECT_EQ(frames_at_board(), frames_after_close);
  EXPECT_TRUE(all_boxes(colour_system_grey_text));
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
