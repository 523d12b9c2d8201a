#include <QTextDocument>
#include <QWindow>

#include "form_fixture.h"

namespace {

// What a tooltip shows: Qt reads one that looks like markup as rich text.
QString shown_tooltip(const QString& tooltip) {
  if (!Qt::mightBeRichText(tooltip)) return tooltip;
  QTextDocument document;
  document.setHtml(tooltip);
  return document.toPlainText();
}

// A name file whose address 1 holds `names` for relays 1, 2, ... and whose title
// line is `title_line` (none when empty).
std::string file_with(const std::vector<std::string>& names, const std::string& title_line) {
  std::string text = "[Software properties]\r\n" + title_line + "[address 0]\r\n[address 1]\r\n";
  for (std::size_t relay = 1; relay <= names.size(); ++relay) {
    text += "relay" + std::to_string(relay) + "name=" + names[relay - 1] + "\r\n";
  }
  return text;
}

class PlainTextFormTest : public FormTest {
 protected:
  void restart_with(const std::string& file_text) {
    form.reset();
    write_bytes(name_file(), file_text);
    form = std::make_unique<CountingForm>(program_dir(), messages, port);
    form->set_up();
  }
  // The title as the window hands it to the window system.
  QString title_bar() const {
    form->winId();
    return form->windowHandle()->title();
  }
};

// A name is shown as the characters that were typed, wherever it appears: markup is
// not obeyed, and no picture is loaded.
TEST_F(PlainTextFormTest, NamesShowTheirMarkupAsCharacters) {
  const std::vector<std::string> names = {
      "<b>Pump</b>",   "<img src=\"/etc/hostname\">", "Tom &amp; Jerry",
      "a < b & c > d", "<p style='color:red'>泵</p>", "%1 &%2",
  };
  restart_with(file_with(names, "The name=Hall\r\n"));
  for (std::size_t index = 0; index < names.size(); ++index) {
    const int relay = static_cast<int>(index) + 1;
    const QString name = QString::fromStdString(names[index]);
    SCOPED_TRACE(names[index]);
    EXPECT_EQ(name_label(relay)->text(), name);
    EXPECT_EQ(name_label(relay)->textFormat(), Qt::PlainText);
    EXPECT_EQ(shown_tooltip(name_label(relay)->toolTip()), name);
    EXPECT_EQ(name_label(relay)->accessibleName(),
              QStringLiteral("Relay %1 name: ").arg(relay) + name);

    QTest::mouseClick(name_label(relay), Qt::LeftButton);
    auto* name_box = form->rename_dialog().findChild<QLineEdit*>("mingcheng");
    ASSERT_NE(name_box, nullptr);
    EXPECT_EQ(name_box->text(), name);
    form->rename_dialog().close();
  }
  // Plain names keep a plain tooltip; a relay without a name has none.
  restart_with(file_with({"Pump 3"}, "The name=Hall\r\n"));
  EXPECT_EQ(name_label(1)->toolTip(), "Pump 3");
  EXPECT_EQ(name_label(2)->toolTip(), "");
  EXPECT_TRUE(messages.shown.empty());
}

// The title bar shows the stored title as it is; an empty one leaves the bar empty
// rather than showing the program's name, which Qt and the window systems put into an
// empty title.
TEST_F(PlainTextFormTest, TheTitleBarShowsTheStoredTitleAndNothingForAnEmptyOne) {
  const struct {
    const char* title_line;
    QString shown;  // empty: no visible character, yet not an empty title
  } cases[] = {
      {"The name=Hall 2\r\n", "Hall 2"},
      {"The name=<b>Hall</b> [*]\r\n", "<b>Hall</b> [*]"},  // "[*]" is Qt's modified mark
      {"The name=\r\n", ""},
      {"", ""},  // the key removed
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title_line);
    restart_with(file_with({"Pump"}, c.title_line));
    const QString title = title_bar();
    if (c.shown.isEmpty()) {
      ASSERT_FALSE(title.isEmpty());
      for (const QChar character : title) {
        EXPECT_EQ(character.category(), QChar::Other_Format) << int{character.unicode()};
      }
    } else {
      EXPECT_EQ(title, c.shown);
    }
  }
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
