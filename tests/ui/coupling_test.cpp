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
    address_bar()->set_number(c.before);
    address_box()->setText(QString::number(c.before));
    form->loads = 0;
    switch (c.input) {
      case Input::upper_arrow:
      case Input::lower_arrow:
        press(address_bar(), c.input);
        break;
      case Input::pasted:
        address_box()->selectAll();
        address_box()->insert(c.typed);
        break;
      default:  // typed; setText left the caret at the end
        if (c.input == Input::typed_over) address_box()->selectAll();
        if (c.input == Input::typed_at_start) address_box()->home(false);
        QTest::keyClicks(address_box(), c.typed);
    }
    EXPECT_EQ(address_box()->text(), c.text);
    EXPECT_EQ(address_bar()->number(), c.value);
    EXPECT_EQ(form->loads, c.loads);
    EXPECT_EQ(name(16), c.name_16);
  }
}

TEST_F(FormTest, PortNumberFollowsItsSpinBarAndNamesItsDeviceWithoutTouchingTheLine) {
  std::filesystem::create_symlink("/dev/null", program_dir() / "com1");
  press(port_bar(), Input::upper_arrow);
  EXPECT_EQ(port_box()->text(), "2");
  const std::string links = "\ncom<n> links are read from " + program_dir().string();
  EXPECT_EQ(port_box()->toolTip().toStdString(), "Port 2: /dev/ttyS1" + links);
  port_box()->selectAll();
  QTest::keyClicks(port_box(), "300");
  EXPECT_EQ(port_box()->text(), "30");
  EXPECT_EQ(port_bar()->number(), 30);
  port_box()->setText("1");
  EXPECT_EQ(port_box()->toolTip().toStdString(),
            "Port 1: " + (program_dir() / "com1").string() + links);
  port_box()->setText("0");
  EXPECT_EQ(port_box()->toolTip(), "Port 0 names no device");
  port_box()->setText("");
  EXPECT_EQ(port_box()->toolTip(), "Not a port number");
  EXPECT_EQ(form->loads, 0);
  EXPECT_EQ(port.open_calls, 0);
  EXPECT_EQ(port.selected, -1);
}

// Another program renames while the window runs: the window follows within a deadline,
// without a word, and keeps the names while the address box holds no number.
TEST_F(FormTest, NamesWrittenByAnotherProgramAreShownWithoutARestart) {
  ProfileStore other;
  const struct {
    QString address;
    std::string title;
    QString name_5;
  } cases[] = {{"1", "Renamed panel", "Pump room"}, {"", "Panel, no address", "a1 r5"}};
  for (const auto& c : cases) {
    address_box()->setText(c.address);
    form->loads = 0;
    ASSERT_TRUE(other.write_value(name_file(), "address 1", "relay5name", "Pump room").written);
    ASSERT_TRUE(other.write_value(name_file(), "Software properties", "The name", c.title).written);
    const QString title = QString::fromStdString(c.title);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->windowTitle() == title; }, 20000));
    EXPECT_EQ(name(5), c.name_5);
    EXPECT_EQ(form->loads > 0, !c.address.isEmpty());
    // An editor writing into the file itself: no change of the folder to see.
    address_box()->setText("1");
    write_bytes(name_file(), name_file_text());
    EXPECT_TRUE(QTest::qWaitFor([&] { return name(5) == "a1 r5"; }, 20000));
  }
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
