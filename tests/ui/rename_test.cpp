#include <sys/resource.h>

#include <QClipboard>
#include <QGuiApplication>
#include <csignal>

#include "form_fixture.h"

namespace {

// Files may grow to `bytes` at most while it lives, as on a full disk; root is bound
// by this limit as much as any operator.
class FullDisk {
 public:
  explicit FullDisk(rlim_t bytes) {
    previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    const rlimit limit{bytes, previous_.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FullDisk() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previous_handler_);
  }
  FullDisk(const FullDisk&) = delete;
  FullDisk& operator=(const FullDisk&) = delete;

 private:
  rlimit previous_{};
  void (*previous_handler_)(int) = nullptr;
};

class RenameTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    dialog = &form->rename_dialog();
    name_box = dialog->findChild<QLineEdit*>("mingcheng");
    ok = dialog->findChild<QPushButton*>("Command_ok");
    cancel = dialog->findChild<QPushButton*>("Command_cansel");
    ASSERT_TRUE(name_box && ok && cancel);
    original = read_bytes(name_file());
  }
  void click_name(int relay) { QTest::mouseClick(name_label(relay), Qt::LeftButton); }
  void retype(const QString& text) {
    name_box->selectAll();
    QTest::keyClick(name_box, Qt::Key_Delete);
    // Typed as one key event carrying the text, as an input method delivers Chinese.
    QTest::sendKeyEvent(QTest::Click, name_box, Qt::Key_unknown, text, {});
  }
  // Over the whole text, as the operator pastes a spreadsheet cell.
  void paste(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    name_box->selectAll();
    QTest::keyClick(name_box, Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(name_box->text(), text);
  }
  // The name file with one value replaced, as a rename must leave it.
  std::string renamed(const std::string& from, const std::string& to) const {
    std::string text = original;
    return text.replace(text.find(from), from.size(), to);
  }

  name_form* dialog = nullptr;
  QLineEdit* name_box = nullptr;
  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
  std::string original;
};

TEST_F(RenameTest, DialogOpensModelessWithTheStoredName) {
  form->show();
  address_box()->setText("3");
  click_name(7);
  ASSERT_TRUE(dialog->isVisible());
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(dialog->isModal());
  EXPECT_EQ(dialog->parentWidget(), nullptr);
  EXPECT_EQ(dialog->windowTitle(), "更改名称");
  EXPECT_EQ(dialog->size(), QSize(316, 126));
  EXPECT_EQ(name_box->geometry(), QRect(64, 24, 209, 41));
  EXPECT_EQ(ok->geometry(), QRect(80, 88, 65, 25));
  EXPECT_EQ(cancel->geometry(), QRect(176, 88, 65, 25));
  EXPECT_EQ(ok->text(), "确 定");
  EXPECT_EQ(cancel->text(), "取 消");
  EXPECT_EQ(name_box->font().pointSizeF(), 24);
  EXPECT_EQ(dialog->focusWidget(), name_box);
  EXPECT_EQ(name_box->text(), "a3 r7");
  EXPECT_EQ(name_box->cursorPosition(), 0);  // a long name shows from its first character

  // Enter and Escape are not bound: the dialog stays open and nothing is written.
  QTest::keyClick(name_box, Qt::Key_Return);
  QTest::keyClick(name_box, Qt::Key_Escape);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(read_bytes(name_file()), original);
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
  EXPECT_EQ(name_box->text(), "a1 r2");
  retype("gone too");
  dialog->close();
  EXPECT_FALSE(dialog->isVisible());

  click_name(5);
  retype("never stored");
  form->close();
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(read_bytes(name_file()), original);
}

TEST_F(RenameTest, SecondClickWhileOpenRetargetsWithoutReloadingAndOkShowsTheNameAtOnce) {
  address_box()->setText("3");
  click_name(7);
  retype("泵 9");
  address_box()->setText("4");
  click_name(9);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(name_box->text(), "泵 9");
  form->loads = 0;
  QTest::mouseClick(ok, Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
  // Written in the file's code page (GB18030 for a file of plain ASCII).
  EXPECT_EQ(read_bytes(name_file()), renamed("relay9name=a4 r9", "relay9name=\xB1\xC3 9"));
  EXPECT_EQ(name(9), "泵 9");
  EXPECT_EQ(name(7), "a4 r7");
  EXPECT_EQ(form->loads, 1);
  EXPECT_EQ(address_box()->text(), "4");
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(RenameTest, APastedNameLosesTheLineBreaksAtItsEndAndIsStored) {
  const struct {
    int relay;
    QString pasted;
    std::string stored;
  } cases[] = {
      {1, "Pump 3\n", "Pump 3"},
      {2, "Pump 3\r\n", "Pump 3"},
      {3, "泵\r\n\r\n\n\r", "\xB1\xC3"},
      {4, "\r\n", ""},  // nothing but the break: the name is emptied, as for an empty box
  };
  std::string expected = original;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.relay);
    click_name(c.relay);
    paste(c.pasted);
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    const std::string line = "relay" + std::to_string(c.relay) + "name=";
    const std::string old_line = line + "a1 r" + std::to_string(c.relay);
    expected.replace(expected.find(old_line), old_line.size(), line + c.stored);
    EXPECT_EQ(read_bytes(name_file()), expected);
    EXPECT_EQ(name(c.relay), c.pasted.trimmed());
  }
  EXPECT_TRUE(messages.shown.empty());
}

// What the operator is told when OK cannot store the text; the dialog then waits, the
// text as it was, and the file is not touched.
TEST_F(RenameTest, OkRefusesANameItCannotStoreOrAnAddressThatIsNoNumber) {
  const std::string address_hint =
      " when the relay's name was clicked. Type the board's address in the Address box, "
      "click the relay's name again and press OK.";
  const std::string line_break =
      "The name was not stored: it holds a line break, and a name is one line of the name "
      "file. Remove the line break and press OK again.";
  const struct {
    const char* address;  // the address box's text as the dialog got it
    QString pasted;
    std::string message;
  } cases[] = {
      {"1", "Pump\n3", line_break},
      {"1", "Pump\r3\r\n", line_break},
      {"1", "\nPump", line_break},
      // A private-use character that GB18030, this file's encoding, has no bytes for.
      {"1", "泵\uE78D\uE7C7",
       "The name was not stored: the name file cannot hold the character \"\uE78D\" "
       "(U+E78D). Remove it and press OK again."},
      {"", "Pump", "The name was not stored: the Address box was empty" + address_hint},
      {"x7", "Pump",
       "The name was not stored: the Address box held \"x7\", not a number" + address_hint},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address + (" / " + c.pasted.toStdString()));
    messages.shown.clear();
    form->loads = 0;
    click_name(6);
    dialog->address_text() = c.address;
    paste(c.pasted);
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(name_box->text(), c.pasted);
    EXPECT_EQ(read_bytes(name_file()), original);
    EXPECT_EQ(messages.shown, (std::vector<Message>{{c.message, "Rename", MessageIcon::Critical}}));
    EXPECT_EQ(form->loads, 0);
    EXPECT_EQ(name(6), "a1 r6");
    dialog->close();
  }

  // Typed into the empty box at last, the address takes the name with the next click.
  address_box()->setText("");
  click_name(6);
  retype("Pump");
  QTest::mouseClick(ok, Qt::LeftButton);
  EXPECT_TRUE(dialog->isVisible());
  address_box()->setText("2");
  click_name(6);
  QTest::mouseClick(ok, Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(read_bytes(name_file()), renamed("relay6name=a2 r6", "relay6name=Pump"));
  EXPECT_EQ(name(6), "Pump");
}

// A name file gone since the start: opening the dialog says so once and loads an empty
// name, as a read of a missing file gives.
TEST_F(RenameTest, OpeningTheDialogOnAMissingFileSaysSoOnce) {
  std::filesystem::remove(name_file());
  messages.shown.clear();
  click_name(8);
  ASSERT_TRUE(dialog->isVisible());
  EXPECT_EQ(name_box->text(), "");
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, name_file().string() + " not found.");
  EXPECT_EQ(messages.shown[0].caption, "File Not Found");
}

// The operator has been told why the write failed (the dialog shows the file's error); the
// name waits in the dialog, and OK stores it once the trouble is gone.
TEST_F(RenameTest, AFailedWriteKeepsTheDialogOpenForAnotherTry) {
  const std::filesystem::path moved = program_dir() / "moved.txt";
  const struct {
    QString name;
    bool full_disk;  // otherwise a folder stands in the file's place
    const char* caption;
  } cases[] = {
      {"disk full", true, "File Error"},
      {"folder in place", false, "File Error"},
  };
  std::string expected = original;
  std::string stored = "a1 r8";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.caption);
    messages.shown.clear();
    form->loads = 0;
    click_name(8);
    retype(c.name);
    if (c.full_disk) {
      // Smaller than the name file, so that no new file can be written in full.
      const FullDisk full_disk(4096);
      QTest::mouseClick(ok, Qt::LeftButton);
    } else {
      std::filesystem::rename(name_file(), moved);
      std::filesystem::create_directory(name_file());
      QTest::mouseClick(ok, Qt::LeftButton);
      std::filesystem::remove(name_file());
      std::filesystem::rename(moved, name_file());
    }
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(name_box->text(), c.name);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].caption, c.caption);
    EXPECT_EQ(form->loads, 0);
    EXPECT_EQ(read_bytes(name_file()), expected);

    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    const std::string old_line = "relay8name=" + stored;
    stored = c.name.toStdString();
    expected.replace(expected.find(old_line), old_line.size(), "relay8name=" + stored);
    EXPECT_EQ(read_bytes(name_file()), expected);
    EXPECT_EQ(name(8), c.name);
    EXPECT_EQ(form->loads, 1);
    EXPECT_EQ(messages.shown.size(), 1u);
  }
}

}  // namespace
