#include <QApplication>
#include <QContextMenuEvent>

#include "form_fixture.h"

namespace {

// The operator's way to the rename dialog without a mouse: Tab to a relay's box and
// press a rename key.
class KeyboardRenameTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    dialog = &form->rename_dialog();
    name_box = dialog->findChild<QLineEdit*>("mingcheng");
    ASSERT_NE(name_box, nullptr);
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get(), 15000));
  }
  void TearDown() override {
    if (dialog) dialog->close();
  }

  // Tabs from the port box, where the window opens, along the window's focus order.
  void tab_to_box(int relay) {
    const int controls_before_the_boxes = 6;
    for (int step = 0; step < controls_before_the_boxes + relay; ++step) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
  }

  name_form* dialog = nullptr;
  QLineEdit* name_box = nullptr;
};

TEST_F(KeyboardRenameTest, F2OnAFocusedBoxRenamesItsRelayAtTheShownAddress) {
  address_box()->setText("3");
  tab_to_box(5);
  ASSERT_EQ(QApplication::focusWidget(), box(5));

  QTest::keyClick(box(5), Qt::Key_F2);
  ASSERT_TRUE(dialog->loaded());
  EXPECT_EQ(dialog->address_text(), "3");
  EXPECT_EQ(dialog->relay_text(), "5");
  EXPECT_EQ(name_box->text(), "a3 r5");
  EXPECT_EQ(name_box->accessibleName(), "Name of relay 5 at address 3");
  EXPECT_EQ(form->focusWidget(), box(5)) << "a rename key moves no focus in the window";

  // The dialog's own keys: type, Tab to OK, Space.
  name_box->selectAll();
  QTest::keyClicks(name_box, "Pump room");
  QTest::keyClick(name_box, Qt::Key_Tab);
  QPushButton* ok = dialog->findChild<QPushButton*>("Command_ok");
  ASSERT_EQ(dialog->focusWidget(), ok);
  QTest::keyClick(ok, Qt::Key_Space);

  EXPECT_FALSE(dialog->isVisible());
  EXPECT_NE(read_bytes(name_file()).find("[address 3]\r\n"), std::string::npos);
  EXPECT_NE(read_bytes(name_file()).find("relay5name=Pump room\r\n"), std::string::npos);
  EXPECT_EQ(name(5), "Pump room");
  EXPECT_EQ(box(5)->accessibleName(), "Relay 5, Pump room: unknown");
  EXPECT_EQ(name(4), "a3 r4");
}

TEST_F(KeyboardRenameTest, OnlyTheRenameKeysOpenTheDialog) {
  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    bool opens;
  } cases[] = {
      {Qt::Key_F2, Qt::NoModifier, true},       {Qt::Key_Menu, Qt::NoModifier, true},
      {Qt::Key_F10, Qt::ShiftModifier, true},   {Qt::Key_F10, Qt::NoModifier, false},
      {Qt::Key_F2, Qt::ControlModifier, false}, {Qt::Key_F2, Qt::AltModifier, false},
      {Qt::Key_Return, Qt::NoModifier, false},  {Qt::Key_Space, Qt::NoModifier, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(QKeySequence(c.key | c.modifiers).toString().toStdString());
    box(12)->setFocus();
    QTest::keyClick(box(12), c.key, c.modifiers);
    EXPECT_EQ(dialog->loaded(), c.opens);
    if (c.opens) {
      EXPECT_EQ(dialog->relay_text(), "12");
      EXPECT_EQ(name_box->accessibleName(), "Name of relay 12 at address 1");
    }
    dialog->close();
  }
}

// Desktops that turn the context-menu key into a menu request; a right click on a
// box is not a rename.
TEST_F(KeyboardRenameTest, AKeyboardMenuRequestRenamesAndAMouseOneDoesNot) {
  QContextMenuEvent by_mouse(QContextMenuEvent::Mouse, {10, 10},
                             box(7)->mapToGlobal(QPoint(10, 10)));
  QApplication::sendEvent(box(7), &by_mouse);
  EXPECT_FALSE(dialog->loaded());

  QContextMenuEvent by_key(QContextMenuEvent::Keyboard, {10, 10},
                           box(7)->mapToGlobal(QPoint(10, 10)));
  QApplication::sendEvent(box(7), &by_key);
  ASSERT_TRUE(dialog->loaded());
  EXPECT_EQ(dialog->relay_text(), "7");

  // Both a key and the menu request it brings: the dialog keeps what was typed.
  QTest::keyClicks(name_box, "x");
  const QString typed = name_box->text();
  QTest::keyClick(box(7), Qt::Key_Menu);
  QApplication::sendEvent(box(7), &by_key);
  EXPECT_EQ(name_box->text(), typed);
}

// The old name is selected as the dialog opens, its start in view: typing replaces it.
TEST_F(KeyboardRenameTest, TypingReplacesTheOldNameShownSelected) {
  for (const QString address : {"", "2"}) {  // "Text1" when no name can be loaded
    address_box()->setText(address);
    box(3)->setFocus();
    QTest::keyClick(box(3), Qt::Key_F2);
    ASSERT_TRUE(dialog->isActiveWindow() || QTest::qWaitForWindowActive(dialog, 15000));
    EXPECT_EQ(name_box->selectedText(), address.isEmpty() ? "Text1" : "a2 r3");
    EXPECT_EQ(name_box->cursorPosition(), 0);
    QTest::keyClicks(QApplication::focusWidget(), "X");
    EXPECT_EQ(name_box->text(), "X");
    dialog->close();
    QCoreApplication::processEvents();  // what the typing posted, as the operator's pause does
  }
}

}  // namespace
