#include <QApplication>
#include <QPainter>
#include <QRawFont>
#include <QStyle>
#include <algorithm>
#include <cmath>
#include <map>

#include "form_fixture.h"
#include "look_environment.h"
#include "relay_panel/panel_font.h"

namespace {

// WCAG 2 relative luminance and contrast ratio.
double luminance(const QColor& colour) {
  auto linear = [](double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
         0.0722 * linear(colour.blueF());
}

double contrast(const QColor& a, const QColor& b) {
  const double first = luminance(a);
  const double second = luminance(b);
  return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

// The colour that most pixels of `area` have: the background a caption stands on.
QColor background_of(const QImage& image, const QRect& area) {
  std::map<QRgb, int> counts;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) ++counts[image.pixel(x, y)];
  }
  return QColor(std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                  return a.second < b.second;
                })->first);
}

bool is_ink(const QColor& pixel, const QColor& background) {
  return contrast(pixel, background) > 1.5;
}

// The first and last columns of `area` that hold ink; {-1, -1} when it has none.
std::pair<int, int> ink_columns(const QImage& image, const QRect& area) {
  const QColor background = background_of(image, area);
  std::pair<int, int> columns{-1, -1};
  for (int x = area.left(); x <= area.right(); ++x) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
      if (!is_ink(image.pixelColor(x, y), background)) continue;
      if (columns.first < 0) columns.first = x - area.left();
      columns.second = x - area.left();
      break;
    }
  }
  return columns;
}

// `text` drawn whole in `font`, black on white, with room to spare.
QImage drawn_alone(const QString& text, const QFont& font) {
  QImage image(400, 80, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(QRect(20, 0, 380, 80), Qt::AlignLeft | Qt::AlignTop, text);
  return image;
}

// A character the face draws itself, rather than the empty box (or nothing) that
// stands for a character no installed face has.
bool face_draws(const QFont& font, QChar character) {
  const QImage missing = drawn_alone(QString(QChar(0xE000)) + QChar(0xFFFF), font);
  const QImage drawn = drawn_alone(character, font);
  return drawn != missing && ink_columns(drawn, drawn.rect()).first >= 0;
}

class LookTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    show_states();
  }
  // One relay in each state, the widest default names and a Chinese one.
  void show_states() {
    form->paint(1, IndicatorState::Opened);
    form->paint(2, IndicatorState::Closed);
    form->paint(3, IndicatorState::Unknown);
    form->paint(4, IndicatorState::Idle);
    form->set_name_label(16, "relay16");
    form->set_name_label(15, "relay 16");
    form->set_name_label(5, "\xE6\xB3\xB5\xE6\x88\xBF");  // 泵房, pump room
  }

  QImage window() const { return form->grab().toImage(); }
  // A widget's contents as the window shows them.
  QRect area_of(QWidget* widget, int inset = 0) const {
    const QRect contents = widget->contentsRect().adjusted(inset, inset, -inset, -inset);
    return QRect(widget->mapTo(form.get(), contents.topLeft()), contents.size());
  }
};

// Every caption and default name is drawn whole inside its label, with the face's own
// glyphs, in whichever faces the machine has.
TEST_F(LookTest, CaptionsAndNamesAreDrawnWholeInsideTheirLabels) {
  if (!font_environment_installed()) {
    GTEST_SKIP() << "the faces of " << font_environment() << " are not installed";
  }
  const QImage shown = window();
  std::vector<QLabel*> labels;
  for (int relay = 1; relay <= 4; ++relay) labels.push_back(box(relay)->state_label());
  labels.push_back(name_label(16));
  labels.push_back(name_label(15));
  for (QLabel* label : labels) {
    SCOPED_TRACE(label->objectName().toStdString() + " \"" + label->text().toStdString() + "\"");
    const QRect area = area_of(label);
    const auto [first, last] = ink_columns(shown, area);
    ASSERT_GE(first, 0) << "nothing drawn";
    EXPECT_LT(last, area.width() - 1) << "ink on the label's right edge: cut off";
    const QImage whole = drawn_alone(label->text(), label->font());
    const auto [whole_first, whole_last] = ink_columns(whole, whole.rect());
    EXPECT_NEAR(last - first, whole_last - whole_first, 1) << "not drawn whole";
    for (const QChar character : label->text()) {
      if (character == ' ') continue;
      EXPECT_TRUE(face_draws(label->font(), character)) << int{character.unicode()};
    }
  }
  // A Chinese name needs a face with Chinese glyphs, which an environment without one
  // cannot give.
  if (font_environment() != "no-cjk") {
    for (const QChar character : name(5)) {
      EXPECT_TRUE(face_draws(name_label(5)->font(), character)) << int{character.unicode()};
    }
  }
}

TEST_F(LookTest, TheFaceIsTheFirstThatFitsOrTheBestOneShrunk) {
  if (!font_environment_installed()) {
    GTEST_SKIP() << "the faces of " << font_environment() << " are not installed";
  }
  const struct {
    const char* environment;
    const char* family;
    bool preferred_size;
  } expected[] = {
      {"wenquanyi", "WenQuanYi Zen Hei", true},
      {"noto-cjk", "Noto Sans CJK SC", false},
      {"droid", "Droid Sans Fallback", false},
      {"no-cjk", "SimSun", false},
  };
  const FaceChoice& face = panel_face();
  for (const auto& e : expected) {
    if (font_environment() != e.environment) continue;
    EXPECT_EQ(face.family.toStdString(), e.family);
    EXPECT_EQ(face.points == preferred_label_points, e.preferred_size) << face.points;
  }
  EXPECT_EQ(box(1)->state_label()->font().pointSizeF(), face.points);
  EXPECT_EQ(name_label(1)->font().pointSizeF(), face.points);
  EXPECT_EQ(address_box()->font().pointSizeF(), 15) << "the boxes keep their size";
}

// Palettes a desktop may hand the panel.
QPalette dark_fusion_palette() {
  QPalette palette;
  const QColor window(53, 53, 53), base(35, 35, 35), disabled(127, 127, 127);
  palette.setColor(QPalette::Window, window);
  palette.setColor(QPalette::WindowText, Qt::white);
  palette.setColor(QPalette::Base, base);
  palette.setColor(QPalette::AlternateBase, window);
  palette.setColor(QPalette::Text, Qt::white);
  palette.setColor(QPalette::Button, window);
  palette.setColor(QPalette::ButtonText, Qt::white);
  palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
  palette.setColor(QPalette::HighlightedText, Qt::black);
  palette.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
  palette.setColor(QPalette::Disabled, QPalette::Text, disabled);
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabled);
  return palette;
}

// The palette that Qt's GTK 3 theme makes of Adwaita:dark, as read on Debian 12.
QPalette adwaita_dark_palette() {
  QPalette palette(QColor(0x32, 0x32, 0x32), QColor(0x32, 0x32, 0x32));
  palette.setColor(QPalette::WindowText, QColor(0xf0, 0xf0, 0xf0));
  palette.setColor(QPalette::Text, QColor(0xf0, 0xf0, 0xf0));
  palette.setColor(QPalette::ButtonText, QColor(0xf0, 0xf0, 0xf0));
  palette.setColor(QPalette::Base, QColor(0x24, 0x24, 0x24));
  palette.setColor(QPalette::Light, QColor(0x4b, 0x4b, 0x4b));
  palette.setColor(QPalette::Midlight, QColor(0x2a, 0x2a, 0x2a));
  palette.setColor(QPalette::Dark, QColor(0x21, 0x21, 0x21));
  palette.setColor(QPalette::Mid, QColor(0x26, 0x26, 0x26));
  palette.setColor(QPalette::Shadow, QColor(0x19, 0x19, 0x19));
  palette.setColor(QPalette::Highlight, QColor(0x30, 0x8c, 0xc6));
  palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x82, 0x82, 0x82));
  palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x82, 0x82, 0x82));
  return palette;
}

// Every caption of the window against what it stands on, measured from the drawn
// pixels: at least 4.5 : 1 (WCAG AA) under each palette.
TEST_F(LookTest, EveryCaptionIsLegibleUnderLightAndDarkPalettes) {
  const QPalette desktop = QApplication::palette();
  const struct {
    const char* name;
    QPalette palette;
  } palettes[] = {
      {"the desktop's own", desktop},
      {"light", QApplication::style()->standardPalette()},
      {"dark Fusion", dark_fusion_palette()},
      {"Adwaita:dark", adwaita_dark_palette()},
  };
  for (const auto& p : palettes) {
    SCOPED_TRACE(p.name);
    QApplication::setPalette(p.palette);
    form = std::make_unique<CountingForm>(program_dir(), messages, port);
    form->set_up();
    show_states();
    const QImage shown = window();

    std::vector<std::pair<QWidget*, int>> captions{
        {child("Label3"), 0},    {child("Label5"), 0},     {port_box(), 3},
        {address_box(), 3},      {button("open_comm"), 4}, {button("openall"), 4},
        {button("closeall"), 4}, {name_label(1), 0},       {name_label(16), 0},
    };
    for (int relay = 1; relay <= 4; ++relay) captions.emplace_back(box(relay)->state_label(), 0);
    for (const auto& [widget, inset] : captions) {
      SCOPED_TRACE(widget->objectName().toStdString());
      const QRect area = area_of(widget, inset);
      const QColor background = background_of(shown, area);
      double best = 1;
      for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
          best = std::max(best, contrast(shown.pixelColor(x, y), background));
        }
      }
      EXPECT_GE(best, 4.5) << "on " << background.name().toStdString();
    }
  }
  QApplication::setPalette(desktop);
}

// Under the GTK 3 platform theme with Adwaita:dark, where the machine can run it.
TEST_F(LookTest, TheDarkDesktopThemeReachesTheWindow) {
  if (theme_environment() != "adwaita-dark") GTEST_SKIP() << "not started under a dark theme";
  if (qgetenv("QT_QPA_PLATFORMTHEME") != "gtk3" || QGuiApplication::platformName() != "xcb") {
    GTEST_SKIP() << "no X server or no GTK 3 theme for Qt; its palette is checked as Adwaita:dark";
  }
  EXPECT_LT(QApplication::palette().color(QPalette::Window).lightness(), 128);
  EXPECT_LT(form->palette().color(QPalette::Window).lightness(), 128);
  EXPECT_EQ(box(1)->state_label()->palette().color(QPalette::WindowText), QColor(Qt::black));
}

}  // namespace
