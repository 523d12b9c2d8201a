#include "form_fixture.h"

namespace {

enum class Input { upper_arrow, lower_arrow, typed_over, typed_at_start, typed_at_end, pasted };

// The arrows of a spin bar 25 pixels high fill it: the upper half raises the value.
void press(SpinBar* bar, Input arrow) {
  QTest::mouseClick(bar, Qt::LeftButton, {}, {12, arrow == Input::upper_arrow ? 3 : 21});
}

TEST_F(FormTest, AddressBoxAndSpinBarAgreeAndEachChangeLoadsTheNames) {
  const struct {
    int before;  // the spin bar's value and the box's number
    Input input;
    QString typed;
    QString text;
    int value;
    int loads;
    QString name_16;  // empty when no section matches the text
  } cases[] = {
      {4, Input::upper_arrow, "", "5", 5, 1, "a5 r16"},
      {5, Input::lower_arrow, "", "4", 4, 1, "a4 r16"},
      {254, Input::upper_arrow, "", "255", 255, 1, "a255 r16"},
      {255, Input::upper_arrow, "", "255", 255, 0, "a255 r16"},  // the ends hold
      {0, Input::lower_arrow, "", "0", 0, 0, "a0 r16"},
      {5, Input::typed_over, "7", "7", 7, 1, "a7 r16"},
      {0, Input::typed_at_end, "7", "7", 7, 2, "a7 r16"},  // "07" is rewritten, names twice
      {7, Input::typed_at_start, "0", "07", 7, 1, ""},     // same number written another way
      {7, Input::typed_at_start, " ", " 7", 7, 1, ""},
      {5, Input::pasted, "2.5", "2", 2, 2, "a2 r16"},  // a half goes to the even neighbour
      // Refused: what makes no address stays out of the box, and nothing is loaded.
      {25, Input::typed_at_end, "6a-+ex", "25", 25, 0, "a25 r16"},
      {25, Input::pasted, "-3", "25", 25, 0, "a25 r16"},
      // Emptied to type a new number: the spin bar and the names wait for it.
      {25, Input::typed_over, "\b", "", 25, 0, "a25 r16"},
      {25, Input::typed_over, "\b9", "9", 9, 1, "a9 r16"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.before) + " + '" + c.typed.toStdString() + "'");
    VScroll1()->set_Value(c.before);
    add()->setText(QString::number(c.before));
    form->loads = 0;
    switch (c.input) {
      case Input::upper_arrow:
      case Input::lower_arrow:
        press(VScroll1(), c.input);
        break;
      case Input::pasted:
        add()->selectAll();
        add()->insert(c.typed);
        break;
      default:  // typed; setText left the caret at the end
        if (c.input == Input::typed_over) add()->selectAll();
        if (c.input == Input::typed_at_start) add()->home(false);
        QTest::keyClicks(add(), c.typed);
    }
    EXPECT_EQ(add()->text(), c.text);
    EXPECT_EQ(VScroll1()->Value(), c.value);
    EXPECT_EQ(form->loads, c.loads);
    EXPECT_EQ(name(16), c.name_16);
  }
}

TEST_F(FormTest, PortNumberFollowsItsSpinBarAndNamesItsDeviceWithoutTouchingTheLine) {
  std::filesystem::create_symlink("/dev/null", program_dir() / "com1");
  press(VScroll2(), Input::upper_arrow);
  EXPECT_EQ(chuankou_num()->text(), "2");
  const std::string links = "\ncom<n> links are read from " + program_dir().string();
  EXPECT_EQ(chuankou_num()->toolTip().toStdString(), "Port 2: /dev/ttyS1" + links);
  chuankou_num()->selectAll();
  QTest::keyClicks(chuankou_num(), "300");
  EXPECT_EQ(chuankou_num()->text(), "30");
  EXPECT_EQ(VScroll2()->Value(), 30);
  chuankou_num()->setText("1");
  EXPECT_EQ(chuankou_num()->toolTip().toStdString(),
            "Port 1: " + (program_dir() / "com1").string() + links);
  chuankou_num()->setText("0");
  EXPECT_EQ(chuankou_num()->toolTip(), "Port 0 names no device");
  chuankou_num()->setText("");
  EXPECT_EQ(chuankou_num()->toolTip(), "Not a port number");
  EXPECT_EQ(form->loads, 0);
  EXPECT_EQ(port.open_calls, 0);
  EXPECT_EQ(port.selected, -1);
}

// Another program renames while the window runs: the window follows within a deadline,
// without a word, and keeps the names while the address box holds no number.
TEST_F(FormTest, NamesWrittenByAnotherProgramAreShownWithoutARestart) {
  RecordingMessageBoxes others_messages;
  ProfileStore other(others_messages);
  const struct {
    QString address;
    std::string title;
    QString name_5;
  } cases[] = {{"1", "Renamed panel", "Pump room"}, {"", "Panel, no address", "a1 r5"}};
  for (const auto& c : cases) {
    add()->setText(c.address);
    form->loads = 0;
    ASSERT_EQ(other.write_value(name_file(), "address 1", "relay5name", "Pump room"), 1);
    ASSERT_EQ(other.write_value(name_file(), "Software properties", "The name", c.title), 1);
    const QString title = QString::fromStdString(c.title);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->windowTitle() == title; }, 20000));
    EXPECT_EQ(name(5), c.name_5);
    EXPECT_EQ(form->loads > 0, !c.address.isEmpty());
    // An editor writing into the file itself: no change of the folder to see.
    add()->setText("1");
    write_file(name_file(), name_file_text());
    EXPECT_TRUE(QTest::qWaitFor([&] { return name(5) == "a1 r5"; }, 20000));
  }
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
