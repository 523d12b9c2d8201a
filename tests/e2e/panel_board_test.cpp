#include <gtest/gtest.h>

#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "link_qt/qt_serial_port.h"
#include "name_file_text.h"
#include "recording_message_boxes.h"
#include "ui/indicator_box.h"
#include "ui/main_form.h"

namespace {

constexpr int wait_ms = 3000;

// The whole panel over its real serial port, with the virtual board linked as com1 in
// the program's folder, as an operator without hardware runs it.
class PanelBoardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    program_dir = dir.path().toStdString();
    write_file(program_dir / "name.txt", name_file_text());

    board.start(RELAY_BOARD_SIM,
                {"--link-dir", dir.path(), "--port", "1", "--address", "1", "--verbose"});
    ASSERT_TRUE(board.waitForStarted());
    ASSERT_TRUE(board.waitForReadyRead(wait_ms));
    ASSERT_TRUE(board.readLine().startsWith("/dev/pts/"));

    port = std::make_unique<QtSerialPort>(program_dir);
    form = std::make_unique<main_form>(program_dir, messages, *port);
    form->Form_Initialize();
    form->show();
  }

  void TearDown() override {
    form.reset();
    port.reset();
    board.terminate();
    board.waitForFinished();
  }

  IndicatorBox* box(int relay) const {
    return form->findChild<IndicatorBox*>(QStringLiteral("Picture1_%1").arg(relay));
  }
  QPushButton* button(const char* name) const { return form->findChild<QPushButton*>(name); }
  bool all_boxes(Colour colour) const {
    for (int relay = 1; relay <= 16; ++relay) {
      if (box(relay)->colour() != colour) return false;
    }
    return true;
  }
  // Frames the board has received so far (it logs each one on stderr).
  int frames_at_board() {
    board_log += board.readAllStandardError();
    return static_cast<int>(board_log.count("<-"));
  }

  QTemporaryDir dir;
  std::filesystem::path program_dir;
  QProcess board;
  QByteArray board_log;
  RecordingMessageBoxes messages;
  std::unique_ptr<QtSerialPort> port;
  std::unique_ptr<main_form> form;
};

TEST_F(PanelBoardTest, OperatorSwitchesRelaysOfTheVirtualBoard) {
  EXPECT_EQ(form->findChild<QLineEdit*>("chuankou_num")->toolTip().toStdString(),
            "Port 1: " + (program_dir / "com1").string());

  QTest::mouseClick(button("open_comm"), Qt::LeftButton);
  ASSERT_TRUE(messages.shown.empty()) << messages.shown.front().text;
  EXPECT_EQ(button("open_comm")->text(), "close com");

  // The board starts with every relay closed.
  EXPECT_TRUE(QTest::qWaitFor([&] { return all_boxes(colour_red); }, wait_ms));

  QTest::mouseClick(box(5), Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return box(5)->colour() == colour_green; }, wait_ms));
  EXPECT_EQ(box(4)->colour(), colour_red);

  QTest::mouseClick(button("openall"), Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return all_boxes(colour_green); }, wait_ms));

  QTest::mouseClick(box(5), Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return box(5)->colour() == colour_red; }, wait_ms));

  // Between commands the panel keeps asking for the board's state, once per tick.
  const int frames_before = frames_at_board();
  QTest::qWait(500);
  EXPECT_GE(frames_at_board() - frames_before, 5);
  EXPECT_EQ(box(5)->colour(), colour_red);

  QTest::mouseClick(button("open_comm"), Qt::LeftButton);
  EXPECT_TRUE(all_boxes(colour_system_grey_text));
  EXPECT_EQ(button("open_comm")->text(), "open com");

  // Let anything already on the line arrive, then make sure nothing more is sent.
  QTest::qWait(200);
  const int frames_after_close = frames_at_board();
  QTest::qWait(400);
  EXPECT_EQ(frames_at_board(), frames_after_close);
  EXPECT_TRUE(all_boxes(colour_system_grey_text));
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(PanelBoardTest, SilentBoardTurnsTheIndicatorsUnknown) {
  QTest::mouseClick(button("open_comm"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return all_boxes(colour_red); }, wait_ms));
  // Addressing a board that is not there: nothing answers any more.
  form->findChild<QLineEdit*>("add")->setText("2");
  EXPECT_TRUE(QTest::qWaitFor([&] { return all_boxes(colour_yellow); }, wait_ms));
}

}  // namespace
