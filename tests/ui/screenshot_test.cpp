#include <QGuiApplication>
#include <QScreen>

#include "form_fixture.h"
#include "relay_panel/panel_colour.h"

namespace {

class ScreenshotTest : public FormTest {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "no X server (Xvfb) available";
    FormTest::SetUp();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get(), 15000));
  }

  // What the X server shows of relay n's box, read back from the screen clear of its
  // border and its caption, once it shows `expected` or a generous deadline has passed.
  QColor shown(int relay, const QColor& expected) {
    QColor colour;
    (void)QTest::qWaitFor(
        [&] {
          const QImage image = form->screen()->grabWindow(form->winId()).toImage();
          colour = image.pixelColor(box(relay)->mapTo(
              form.get(), box(relay)->contentsRect().bottomRight() - QPoint(2, 2)));
          return colour == expected;
        },
        15000);
    return colour;
  }
};

TEST_F(ScreenshotTest, IndicatorsShowTheirColoursOnScreen) {
  QTest::mouseClick(button("open_comm"), Qt::LeftButton);
  EXPECT_EQ(shown(3, QColor(255, 255, 0)), QColor(255, 255, 0)) << "unknown";

  port.receive(relay5_opened);
  EXPECT_EQ(shown(5, QColor(0, 255, 0)), QColor(0, 255, 0)) << "opened";
  EXPECT_EQ(shown(6, QColor(255, 0, 0)), QColor(255, 0, 0)) << "closed";

  QTest::mouseClick(button("open_comm"), Qt::LeftButton);
  const QColor grey = panel_colour(colour_system_grey_text, box(5)->palette());
  EXPECT_EQ(shown(5, grey), grey) << "port closed";
  EXPECT_NE(grey, QColor(0, 255, 0));
  EXPECT_NE(grey, QColor(255, 0, 0));
}

}  // namespace
