#include <QAccessible>
#include <QScrollBar>

#include "form_fixture.h"

namespace {

struct Placement {
  const char* name;
  QRect pixels;
};

// Pixels at 96 dpi: the window's twips divided by 15.
const Placement placements[] = {
    {"Label3", {8, 8, 129, 25}},         {"chuankou_num", {152, 8, 41, 25}},
    {"VScroll2", {192, 8, 25, 25}},      {"open_comm", {232, 8, 121, 25}},
    {"Label5", {8, 56, 89, 25}},         {"add", {152, 56, 46, 25}},
    {"VScroll1", {194, 56, 25, 25}},     {"openall", {88, 496, 121, 25}},
    {"closeall", {240, 496, 145, 25}},   {"Picture1_1", {96, 104, 89, 41}},
    {"Picture1_8", {96, 440, 89, 41}},   {"Picture1_9", {256, 440, 89, 41}},
    {"Picture1_16", {256, 104, 89, 41}}, {"Picture1_12", {256, 296, 89, 41}},
    {"Label4_1", {8, 112, 89, 41}},      {"Label4_5", {8, 304, 89, 41}},
    {"Label4_9", {352, 448, 89, 41}},    {"Label4_16", {352, 112, 89, 41}},
    {"Label1_0", {16, 8, 1, 9}},         {"Label1_1", {168, 64, 1, 9}},
    {"Label1_9", {8, 352, 1, 9}},        {"Label1_10", {8, 304, 1, 9}},
    {"Label1_13", {8, 464, 1, 9}},       {"Label1_15", {8, 512, 1, 9}},
    {"Label1_17", {8, 512, 1, 9}},
};

TEST_F(FormTest, WindowIsFixedCentredAndTitledFromTheNameFile) {
  EXPECT_EQ(form->size(), QSize(448, 531));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());
  const auto flags = form->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Test panel"));
  EXPECT_FALSE(form->windowIcon().isNull());
  const QRect screen = form->screen()->availableGeometry();
  EXPECT_LE((form->geometry().center() - screen.center()).manhattanLength(), 2);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(FormTest, EveryControlStandsAtItsPlace) {
  for (const auto& placement : placements) {
    SCOPED_TRACE(placement.name);
    auto* widget = child<QWidget>(placement.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), placement.pixels);
    EXPECT_TRUE(widget->isEnabled());
  }
  // Relay 16 stands level with relay 1, 9 with 8: the numbers run down the left
  // column and back up the right one.
  for (int relay = 1; relay <= 8; ++relay) {
    SCOPED_TRACE(relay);
    EXPECT_EQ(box(relay)->y(), box(17 - relay)->y());
    EXPECT_EQ(child<QLabel>(QStringLiteral("Label4_%1").arg(relay))->y(), box(relay)->y() + 8);
    // Where a name label and its box overlap, the box is on top.
    EXPECT_EQ(form->childAt(box(relay)->pos() + QPoint(0, 10)), box(relay));
    auto* state = child<QLabel>(QStringLiteral("Label2_%1").arg(relay));
    EXPECT_EQ(state->parentWidget(), box(relay));
    EXPECT_EQ(state->geometry(),
              QRect(box(relay)->contentsRect().topLeft() + QPoint(0, 8), QSize(81, 25)));
  }
}

TEST_F(FormTest, StartsWithItsDesignState) {
  EXPECT_EQ(add()->text(), "1");
  EXPECT_EQ(chuankou_num()->text(), "1");
  EXPECT_EQ(VScroll1()->Value(), 1);
  EXPECT_EQ(VScroll2()->Value(), 1);
  EXPECT_EQ(button("open_comm")->text(), "open com");
  EXPECT_EQ(button("openall")->text(), "Open all");
  EXPECT_EQ(button("closeall")->text(), "Close all");
  EXPECT_EQ(child<QLabel>("Label3")->text(), "Com num");
  EXPECT_EQ(child<QLabel>("Label5")->text(), "Address");
  EXPECT_EQ(child<QLabel>("Label1_13")->text(), "Label1");
  for (int relay = 1; relay <= 16; ++relay) {
    SCOPED_TRACE(relay);
    EXPECT_EQ(form->box_colour(relay), 0x0000FFFFu);
    EXPECT_EQ(state_label(relay), "unknown");
    EXPECT_EQ(name_label(relay), QStringLiteral("a1 r%1").arg(relay));
    EXPECT_EQ(box(relay)->accessibleName(), QStringLiteral("Relay %1: unknown").arg(relay));
  }
  auto* timer = form->findChild<PollTimer*>("Timer1");
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 50);
  EXPECT_EQ(add()->font().pointSizeF(), 15);
  EXPECT_EQ(button("open_comm")->font().pointSizeF(), 15.75);
  EXPECT_EQ(add()->font().families().front(), "SimSun");
  EXPECT_EQ(add()->palette().color(QPalette::Text), QColor(Qt::black));
}

TEST_F(FormTest, FocusRunsInTheWindowsOrderFromThePortBox) {
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  EXPECT_EQ(QApplication::focusWidget(), chuankou_num());

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

TEST_F(FormTest, FailedFirstStartTellsTheOperatorInOrder) {
  form.reset();
  std::filesystem::remove(name_file());
  messages.shown.clear();
  form = std::make_unique<CountingForm>(program_dir(), messages, port);
  form->Form_Initialize();
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].caption, "File Not Found");
  EXPECT_EQ(messages.shown[1].text, "name file created");
  EXPECT_EQ(form->windowTitle(), "Corvanti");
  EXPECT_EQ(name_label(1), "relay1");
  EXPECT_EQ(form->loads, 1);
}

}  // namespace
