#include "relay_panel/panel_font.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QRawFont>
#include <algorithm>

#include "panel/indicator_state.h"
#include "relay_panel/form_geometry.h"

namespace {
// The Chinese text the panel itself shows (the rename dialog's title and buttons).
const QString cjk_sample = QStringLiteral("更改名称确定取消");

QFont face_at(const QString& family, double points) {
  QFont font(family);
  font.setPointSizeF(points);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

class InstalledFaces : public FaceCatalogue {
 public:
  bool has_cjk_glyphs(const QString& family) const override {
    if (!QFontDatabase::hasFamily(family)) return false;
    // The face itself, not the fallback that would draw the glyphs it lacks.
    const QRawFont raw = QRawFont::fromFont(face_at(family, preferred_label_points));
    if (!raw.isValid() || raw.familyName().compare(family, Qt::CaseInsensitive) != 0) {
      return false;
    }
    return std::all_of(cjk_sample.begin(), cjk_sample.end(),
                       [&raw](QChar c) { return raw.supportsCharacter(c); });
  }
  QStringList cjk_families() const override {
    return QFontDatabase::families(QFontDatabase::SimplifiedChinese);
  }
  int advance(const QString& family, double points, const QString& text) const override {
    return QFontMetrics(face_at(family, points)).horizontalAdvance(text);
  }
};

// The widest texts the labels must hold: every state caption, and the names that the
// window starts with ("relay 16") and that a new name file holds ("relay16").
std::vector<LabelFit> label_fits() {
  LabelFit captions{{}, to_pixels(main_form_geometry.state_caption).width()};
  for (const auto state : {IndicatorState::Opened, IndicatorState::Closed, IndicatorState::Unknown,
                           IndicatorState::Idle}) {
    captions.texts << QString::fromUtf8(indicator_caption(state));
  }
  LabelFit names{{}, to_pixels(main_form_geometry.name_label(1)).width()};
  for (int relay = 1; relay <= relay_count; ++relay) {
    names.texts << QStringLiteral("relay %1").arg(relay) << QStringLiteral("relay%1").arg(relay);
  }
  return {captions, names};
}
}  // namespace

const FaceChoice& panel_face() {
  static const FaceChoice choice =
      choose_face(InstalledFaces(), preferred_faces(), label_fits(), preferred_label_points);
  return choice;
}

QFont panel_font(double points) {
  return face_at(panel_face().family, points);
}

QFont caption_font() {
  return face_at(panel_face().family, panel_face().points);
}
