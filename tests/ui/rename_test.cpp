#include "form_fixture.h"

namespace {

class RenameTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    dialog = &form->rename_dialog();
    mingcheng = dialog->findChild<QLineEdit*>("mingcheng");
    ok = dialog->findChild<QPushButton*>("Command_ok");
    cancel = dialog->findChild<QPushButton*>("Command_cansel");
    ASSERT_TRUE(mingcheng && ok && cancel);
    original = read_file(name_file());
  }
  void click_name(int relay) { QTest::mouseClick(name_label(relay), Qt::LeftButton); }
  void retype(const QString& text) {
    mingcheng->selectAll();
    QTest::keyClick(mingcheng, Qt::Key_Delete);
    // Typed as one key event carrying the text, as an input method delivers Chinese.
    QTest::sendKeyEvent(QTest::Click, mingcheng, Qt::Key_unknown, text, {});
  }
  // The name file with one value replaced, as a rename must leave it.
  std::string renamed(const std::string& from, const std::string& to) const {
    std::string text = original;
    return text.replace(text.find(from), from.size(), to);
  }

  name_form* dialog = nullptr;
  QLineEdit* mingcheng = nullptr;
  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
  std::string original;
};

TEST_F(RenameTest, DialogOpensModelessWithTheStoredName) {
  form->show();
  add()->setText("3");
  click_name(7);
  ASSERT_TRUE(dialog->isVisible());
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(dialog->isModal());
  EXPECT_EQ(dialog->parentWidget(), nullptr);
  EXPECT_EQ(dialog->windowTitle(), "更改名称");
  EXPECT_EQ(dialog->size(), QSize(316, 126));
  EXPECT_EQ(mingcheng->geometry(), QRect(64, 24, 209, 41));
  EXPECT_EQ(ok->geometry(), QRect(80, 88, 65, 25));
  EXPECT_EQ(cancel->geometry(), QRect(176, 88, 65, 25));
  EXPECT_EQ(ok->text(), "确 定");
  EXPECT_EQ(cancel->text(), "取 消");
  EXPECT_EQ(mingcheng->font().pointSizeF(), 24);
  EXPECT_EQ(dialog->focusWidget(), mingcheng);
  EXPECT_EQ(mingcheng->text(), "a3 r7");
  EXPECT_EQ(mingcheng->cursorPosition(), 0);  // a long name shows from its first character

  // Enter and Escape are not bound: the dialog stays open and nothing is written.
  QTest::keyClick(mingcheng, Qt::Key_Return);
  QTest::keyClick(mingcheng, Qt::Key_Escape);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(read_file(name_file()), original);
}

TEST_F(RenameTest, CancelTheFrameAndClosingThePanelDropTheNameUnwritten) {
  form->show();
  click_name(2);
  retype("gone");
  QTest::mouseClick(cancel, Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(name(2), "a1 r2");

  // Reopened, the dialog loads afresh.
  click_name(2);
  EXPECT_EQ(mingcheng->text(), "a1 r2");
  retype("gone too");
  dialog->close();
  EXPECT_FALSE(dialog->isVisible());

  click_name(5);
  retype("never stored");
  form->close();
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(read_file(name_file()), original);
}

TEST_F(RenameTest, SecondClickWhileOpenRetargetsWithoutReloadingAndOkShowsTheNameAtOnce) {
  add()->setText("3");
  click_name(7);
  retype("泵 9");
  add()->setText("4");
  click_name(9);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(mingcheng->text(), "泵 9");
  form->loads = 0;
  QTest::mouseClick(ok, Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
  // Written in the file's code page (GB18030 for a file of plain ASCII).
  EXPECT_EQ(read_file(name_file()), renamed("relay9name=a4 r9", "relay9name=\xB1\xC3 9"));
  EXPECT_EQ(name(9), "泵 9");
  EXPECT_EQ(name(7), "a4 r7");
  EXPECT_EQ(form->loads, 1);
  EXPECT_EQ(add()->text(), "4");
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
