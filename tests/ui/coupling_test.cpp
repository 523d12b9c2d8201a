#include <QSignalSpy>

#include "form_fixture.h"

namespace {

// The arrows of a spin bar 25 pixels high fill it: the upper half raises the value.
void press_upper_arrow(SpinBar* bar) {
  QTest::mouseClick(bar, Qt::LeftButton, {}, {12, 3});
}
void press_lower_arrow(SpinBar* bar) {
  QTest::mouseClick(bar, Qt::LeftButton, {}, {12, 21});
}

void type_over(QLineEdit* box, const QString& text) {
  box->selectAll();
  QTest::keyClicks(box, text);
}

TEST_F(FormTest, SettingTheSameContentRaisesNoChange) {
  QSignalSpy text_changes(add(), &QLineEdit::textChanged);
  QSignalSpy value_changes(VScroll1(), &SpinBar::Change);
  add()->setText("1");
  VScroll1()->set_Value(1);
  EXPECT_EQ(text_changes.count(), 0);
  EXPECT_EQ(value_changes.count(), 0);
  EXPECT_EQ(form->loads, 0);
}

TEST_F(FormTest, UpperArrowRaisesTheAddressAndLoadsItsNamesOnce) {
  VScroll1()->set_Value(4);
  form->loads = 0;
  press_upper_arrow(VScroll1());
  EXPECT_EQ(VScroll1()->Value(), 5);
  EXPECT_EQ(add()->text(), "5");
  EXPECT_EQ(form->loads, 1);
  EXPECT_EQ(name_label(16), "a5 r16");

  press_lower_arrow(VScroll1());
  EXPECT_EQ(add()->text(), "4");
  EXPECT_EQ(form->loads, 2);
}

TEST_F(FormTest, ArrowsStopAtTheEndsOfTheRange) {
  VScroll1()->set_Value(254);
  form->loads = 0;
  press_upper_arrow(VScroll1());
  EXPECT_EQ(add()->text(), "255");
  EXPECT_EQ(name_label(1), "a255 r1");
  press_upper_arrow(VScroll1());
  EXPECT_EQ(VScroll1()->Value(), 255);
  EXPECT_EQ(form->loads, 1);

  VScroll1()->set_Value(0);
  form->loads = 0;
  press_lower_arrow(VScroll1());
  EXPECT_EQ(VScroll1()->Value(), 0);
  EXPECT_EQ(add()->text(), "0");
  EXPECT_EQ(form->loads, 0);
}

struct TypedAddress {
  int spin_before;
  QString text_before;
  int cursor;  // where the typing starts
  QString typed;
  QString text_after;
  int spin_after;
  int loads;
  QString first_name;  // label 1 afterwards; empty when no section matches
};

TEST_F(FormTest, TypedAddressesFollowTheCouplingRule) {
  const TypedAddress cases[] = {
      {5, "5", -1, "7", "7", 7, 1, "a7 r1"},  // typed over the old number
      {0, "0", 1, "7", "7", 7, 2, "a7 r1"},   // "07" is rewritten, names loaded twice
      {7, "7", 0, "0", "07", 7, 1, ""},       // same number written another way
      {7, "7", 0, " ", " 7", 7, 1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text_before.toStdString() + " + '" + c.typed.toStdString() + "'");
    VScroll1()->set_Value(c.spin_before);
    add()->setText(c.text_before);
    form->loads = 0;
    if (c.cursor < 0) {
      add()->selectAll();
    } else {
      add()->setCursorPosition(c.cursor);
    }
    QTest::keyClicks(add(), c.typed);
    EXPECT_EQ(add()->text(), c.text_after);
    EXPECT_EQ(VScroll1()->Value(), c.spin_after);
    EXPECT_EQ(form->loads, c.loads);
    EXPECT_EQ(name_label(1), c.first_name);
  }
}

TEST_F(FormTest, PastedFractionRoundsToEvenAndRewritesTheBox) {
  VScroll1()->set_Value(5);
  form->loads = 0;
  add()->selectAll();
  add()->insert("2.5");
  EXPECT_EQ(add()->text(), "2");
  EXPECT_EQ(VScroll1()->Value(), 2);
  EXPECT_EQ(form->loads, 2);
  EXPECT_EQ(name_label(3), "a2 r3");
}

TEST_F(FormTest, BoxesRefuseTextThatIsNoAddressButMayBeEmptied) {
  add()->setText("25");
  form->loads = 0;
  for (const char* refused : {"6", "a", "-", "+", "e", "x"}) {
    SCOPED_TRACE(refused);
    add()->end(false);
    QTest::keyClicks(add(), refused);
    EXPECT_EQ(add()->text(), "25");
  }
  add()->selectAll();
  add()->insert("-3");
  EXPECT_EQ(add()->text(), "25");
  EXPECT_EQ(form->loads, 0);

  // Emptied to type a new number: the spin bar and the names wait for it.
  add()->selectAll();
  QTest::keyClick(add(), Qt::Key_Backspace);
  EXPECT_EQ(add()->text(), "");
  EXPECT_EQ(VScroll1()->Value(), 25);
  EXPECT_EQ(name_label(1), "a25 r1");
  EXPECT_EQ(form->loads, 0);
  QTest::keyClicks(add(), "9");
  EXPECT_EQ(VScroll1()->Value(), 9);
  EXPECT_EQ(name_label(1), "a9 r1");
  EXPECT_EQ(form->loads, 1);

  type_over(chuankou_num(), "300");
  EXPECT_EQ(chuankou_num()->text(), "30");
  EXPECT_EQ(VScroll2()->Value(), 30);
}

TEST_F(FormTest, PortNumberFollowsItsSpinBarWithoutTouchingTheLine) {
  press_upper_arrow(VScroll2());
  EXPECT_EQ(chuankou_num()->text(), "2");
  type_over(chuankou_num(), "17");
  EXPECT_EQ(VScroll2()->Value(), 17);
  EXPECT_EQ(form->loads, 0);
  EXPECT_EQ(port.open_calls, 0);
  EXPECT_EQ(port.selected, -1);
}

TEST_F(FormTest, PortBoxTooltipNamesTheDevice) {
  std::filesystem::create_symlink("/dev/null", program_dir() / "com1");
  chuankou_num()->setText("2");
  EXPECT_EQ(chuankou_num()->toolTip(), "Port 2: /dev/ttyS1");
  chuankou_num()->setText("1");
  EXPECT_EQ(chuankou_num()->toolTip().toStdString(),
            "Port 1: " + (program_dir() / "com1").string());
  chuankou_num()->setText("0");
  EXPECT_EQ(chuankou_num()->toolTip(), "Port 0 names no device");
  chuankou_num()->setText("");
  EXPECT_EQ(chuankou_num()->toolTip(), "Not a port number");
}

}  // namespace
