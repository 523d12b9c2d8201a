#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include "form_fixture.h"
#include "ui/panel_colour.h"

namespace {

class ScreenshotTest : public FormTest {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "no X server (Xvfb) available";
    FormTest::SetUp();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  }

  // What the X server shows of the window, read back from the screen.
  QImage grab() {
    QTest::qWait(100);
    return form->screen()->grabWindow(form->winId()).toImage();
  }

  // A pixel of relay n's box clear of its border and its caption.
  static QColor box_pixel(const QImage& image, IndicatorBox* box) {
    const QRect inner = box->contentsRect();
    return image.pixelColor(box->mapTo(box->window(), inner.bottomRight() - QPoint(2, 2)));
  }
};

TEST_F(ScreenshotTest, IndicatorsShowTheirColoursOnScreen) {
  QTest::mouseClick(button("open_comm"), Qt::LeftButton);
  QImage shown = grab();
  EXPECT_EQ(box_pixel(shown, box(3)), QColor(255, 255, 0)) << "unknown";

  port.receive(status_frame(1u << 4));
  shown = grab();
  EXPECT_EQ(box_pixel(shown, box(5)), QColor(0, 255, 0)) << "opened";
  EXPECT_EQ(box_pixel(shown, box(6)), QColor(255, 0, 0)) << "closed";

  QTest::mouseClick(button("open_comm"), Qt::LeftButton);
  shown = grab();
  const QColor grey = panel_colour(colour_system_grey_text, box(5)->palette());
  EXPECT_EQ(box_pixel(shown, box(5)), grey) << "port closed";
  EXPECT_NE(grey, QColor(0, 255, 0));
  EXPECT_NE(grey, QColor(255, 0, 0));
}

}  // namespace
