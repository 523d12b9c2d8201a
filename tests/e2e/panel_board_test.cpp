#include <QTimer>
#include <functional>
#include <optional>

#include "board_process.h"
#include "form_fixture.h"
#include "loop/qt_descriptor_loop.h"
#include "serial/posix_serial_port.h"

namespace {

// Generous: on a loaded machine the panel and the board may fall far behind.
constexpr int wait_ms = 15000;

// The panel's serial port, counting the frames it is handed for the line.
class CountingPort : public SerialPort {
 public:
  explicit CountingPort(SerialPort& line) : line_(line) {}
  bool is_open() const override { return line_.is_open(); }
  void discard_input() override { line_.discard_input(); }
  void write(std::span<const std::uint8_t> bytes) override {
    if (line_.is_open()) ++writes;
    line_.write(bytes);
  }
  void select_port(std::int16_t number) override { line_.select_port(number); }
  void select_device(std::string path) override { line_.select_device(std::move(path)); }
  OpenResult open() override { return line_.open(); }
  void set_receive_threshold(int bytes) override { line_.set_receive_threshold(bytes); }
  void set_receive_handler(std::function<void()> handler) override {
    line_.set_receive_handler(std::move(handler));
  }
  std::size_t bytes_waiting() const override { return line_.bytes_waiting(); }
  std::optional<std::uint8_t> read_byte() override { return line_.read_byte(); }
  void close() override { line_.close(); }

  int writes = 0;

 private:
  SerialPort& line_;
};

// Runs the event loop through `count` periods of a 50 ms timer, however long that takes.
void run_ticks(int count) {
  QTimer clock;
  int ticks = 0;
  QObject::connect(&clock, &QTimer::timeout, [&] { ++ticks; });
  clock.start(50);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= count; }, 60'000));
}

// The whole panel over its real serial port, with the virtual board linked as com1 in
// the program's folder, as an operator without hardware runs it.
TEST(PanelBoard, OperatorSwitchesRelaysOfTheVirtualBoard) {
  QTemporaryDir dir;
  const std::filesystem::path program_dir = dir.path().toStdString();
  write_bytes(program_dir / "name.txt", name_file_text());
  // Stopped last, when the panel has let go of the line; its log is kept apart to count.
  BoardProcess board({"--link-dir", dir.path(), "--port", "1", "--address", "1", "--verbose"},
                     QProcess::SeparateChannels);
  ASSERT_TRUE(board.device.startsWith("/dev/pts/"));
  QByteArray board_log;
  // Frames the board has received so far (it logs each one on stderr).
  const auto frames_at_board = [&] {
    board_log += board.readAllStandardError();
    return board_log.count("<-");
  };

  RecordingMessageBoxes messages;
  PosixSerialPort line(program_dir, QtDescriptorLoop::program());
  CountingPort port(line);
  main_form form(program_dir, messages, port);
  form.set_up();
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
  auto* port_button = form.findChild<QPushButton*>("open_comm");

  QTest::mouseClick(port_button, Qt::LeftButton);
  ASSERT_TRUE(messages.shown.empty()) << messages.shown.front().text;
  EXPECT_EQ(port_button->text(), "close com");

  // The board starts with every relay closed.
  EXPECT_TRUE(QTest::qWaitFor([&] { return all_boxes(colour_red); }, wait_ms));
  QTest::mouseClick(box(5), Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return box(5)->colour() == colour_green; }, wait_ms));
  EXPECT_EQ(box(4)->colour(), colour_red);
  QTest::mouseClick(box(5), Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return box(5)->colour() == colour_red; }, wait_ms));

  // Between commands the panel keeps asking for the board's state, once per tick.
  const auto frames_before = frames_at_board();
  EXPECT_TRUE(QTest::qWaitFor([&] { return frames_at_board() - frames_before >= 5; }, wait_ms));
  EXPECT_EQ(box(5)->colour(), colour_red);

  // Addressing a board that is not there: nothing answers any more.
  form.findChild<QLineEdit*>("add")->setText("2");
  EXPECT_TRUE(QTest::qWaitFor([&] { return all_boxes(colour_yellow); }, wait_ms));

  QTest::mouseClick(port_button, Qt::LeftButton);
  EXPECT_TRUE(all_boxes(colour_system_grey_text));
  EXPECT_EQ(port_button->text(), "open com");
  // Every frame written before the close arrives; then nothing more is sent.
  const int written = port.writes;
  EXPECT_TRUE(QTest::qWaitFor([&] { return frames_at_board() == written; }, wait_ms));
  run_ticks(8);
  EXPECT_EQ(port.writes, written);
  EXPECT_EQ(frames_at_board(), written);
  EXPECT_TRUE(all_boxes(colour_system_grey_text));
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
