#include "form_fixture.h"
#include "relay_panel/panel_font.h"

namespace {

// Pixels at 96 dpi (the window's twips divided by 15), and the caption where there is one.
const struct {
  const char* name;
  QRect pixels;
  const char* text;
} placements[] = {
    {"Label3", {8, 8, 129, 25}, "Com num"},         {"chuankou_num", {152, 8, 41, 25}, "1"},
    {"VScroll2", {192, 8, 25, 25}, nullptr},        {"open_comm", {232, 8, 121, 25}, "open com"},
    {"Label5", {8, 56, 89, 25}, "Address"},         {"add", {152, 56, 46, 25}, "1"},
    {"VScroll1", {194, 56, 25, 25}, nullptr},       {"openall", {88, 496, 121, 25}, "Open all"},
    {"closeall", {240, 496, 145, 25}, "Close all"}, {"Picture1_1", {96, 104, 89, 41}, nullptr},
    {"Picture1_8", {96, 440, 89, 41}, nullptr},     {"Picture1_16", {256, 104, 89, 41}, nullptr},
    {"Label4_1", {8, 112, 89, 41}, "a1 r1"},        {"Label4_5", {8, 304, 89, 41}, "a1 r5"},
    {"Label4_9", {352, 448, 89, 41}, "a1 r9"},      {"Label4_16", {352, 112, 89, 41}, "a1 r16"},
    {"Label1_0", {16, 8, 1, 9}, "Label1"},          {"Label1_1", {168, 64, 1, 9}, "Label1"},
    {"Label1_9", {8, 352, 1, 9}, "Label1"},         {"Label1_10", {8, 304, 1, 9}, "Label1"},
    {"Label1_13", {8, 464, 1, 9}, "Label1"},        {"Label1_15", {8, 512, 1, 9}, "Label1"},
    {"Label1_17", {8, 512, 1, 9}, "Label1"},
};

TEST_F(FormTest, OpensFixedAndCentredInItsDesignStateWithEveryControlInPlace) {
  EXPECT_EQ(form->size(), QSize(448, 531));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());
  EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Test panel"));
  EXPECT_FALSE(form->windowIcon().isNull());
  const QRect screen = form->screen()->availableGeometry();
  EXPECT_LE((form->geometry().center() - screen.center()).manhattanLength(), 2);
  EXPECT_TRUE(messages.shown.empty());

  for (const auto& placement : placements) {
    SCOPED_TRACE(placement.name);
    auto* widget = child(placement.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), placement.pixels);
    EXPECT_TRUE(widget->isEnabled());
    if (placement.text) {
      EXPECT_EQ(widget->property("text").toString(), placement.text);
    }
  }
  // Relay 16 stands level with relay 1, 9 with 8: the numbers run down the left
  // column and back up the right one.
  for (int relay = 1; relay <= 8; ++relay) {
    SCOPED_TRACE(relay);
    EXPECT_EQ(box(relay)->y(), box(17 - relay)->y());
    // A name reads level with the state caption beside it: both start at the top.
    EXPECT_EQ(name_label(relay)->y(), box(relay)->y() + 8);
    EXPECT_TRUE(name_label(relay)->alignment() & Qt::AlignTop);
    EXPECT_TRUE(box(relay)->state_label()->alignment() & Qt::AlignTop);
    // Where a name label and its box overlap, the box is on top.
    EXPECT_EQ(form->childAt(box(relay)->pos() + QPoint(0, 10)), box(relay));
    EXPECT_EQ(box(relay)->state_label(), child(QStringLiteral("state_label_%1").arg(relay)));
    EXPECT_EQ(box(relay)->state_label()->geometry(),
              QRect(box(relay)->contentsRect().topLeft() + QPoint(0, 8), QSize(81, 25)));
  }

  EXPECT_EQ(address_bar()->number(), 1);
  EXPECT_EQ(port_bar()->number(), 1);
  for (int relay = 1; relay <= 16; ++relay) {
    SCOPED_TRACE(relay);
    EXPECT_EQ(form->box_colour(relay), 0x0000FFFFu);
    EXPECT_EQ(state(relay), "unknown");
    EXPECT_EQ(name(relay), QStringLiteral("a1 r%1").arg(relay));
    EXPECT_EQ(box(relay)->accessibleName(), QStringLiteral("Relay %1, a1 r%1: unknown").arg(relay));
  }
  auto* timer = form->findChild<PollTimer*>("Timer1");
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 50);
  EXPECT_EQ(address_box()->font().pointSizeF(), 15);
  EXPECT_EQ(button("open_comm")->font().pointSizeF(), 15.75);
  EXPECT_EQ(address_box()->font().family(), panel_face().family);
  EXPECT_EQ(address_box()->palette().color(QPalette::Text), QColor(Qt::black));
}

TEST_F(FormTest, FocusRunsInTheWindowsOrderFromThePortBox) {
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get(), 15000));
  EXPECT_EQ(QApplication::focusWidget(), port_box());
  QStringList expected{"open_comm", "add", "openall", "closeall", "VScroll1", "VScroll2"};
  for (int relay = 1; relay <= 16; ++relay) expected << QStringLiteral("Picture1_%1").arg(relay);
  expected << "chuankou_num";
  QStringList order;
  for (int step = 0; step < expected.size(); ++step) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    order << QApplication::focusWidget()->objectName();
  }
  EXPECT_EQ(order, expected);
}

TEST_F(FormTest, FirstStartWithoutANameFileTellsTheOperatorAndShowsTheDefaults) {
  form.reset();
  std::filesystem::remove(name_file());
  form = std::make_unique<CountingForm>(program_dir(), messages, port);
  form->set_up();
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].caption, "File Not Found");
  EXPECT_EQ(messages.shown[1].text, "name file created");
  EXPECT_EQ(form->windowTitle(), "Corvanti");
  EXPECT_EQ(name(1), "relay1");
  EXPECT_EQ(form->loads, 1);
}

}  // namespace
