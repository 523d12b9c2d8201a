#include "ui/face_choice.h"

#include <algorithm>

namespace {
constexpr double size_step = 0.25;
// Below this a caption is no longer read from an operator's chair; the labels would
// need a face narrower than any desktop installs.
constexpr double smallest_points = 6;

bool fits_at(const FaceCatalogue& catalogue, const QString& family, double points,
             const std::vector<LabelFit>& fits) {
  return std::all_of(fits.begin(), fits.end(), [&](const LabelFit& fit) {
    return std::all_of(fit.texts.begin(), fit.texts.end(), [&](const QString& text) {
      return catalogue.advance(family, points, text) <= fit.width;
    });
  });
}
}  // namespace

QStringList preferred_faces() {
  return {QStringLiteral("SimSun"),
          QStringLiteral("宋体"),
          QStringLiteral("NSimSun"),
          QStringLiteral("WenQuanYi Zen Hei"),
          QStringLiteral("WenQuanYi Micro Hei"),
          QStringLiteral("Noto Sans CJK SC"),
          QStringLiteral("Noto Serif CJK SC"),
          QStringLiteral("Source Han Sans SC"),
          QStringLiteral("AR PL UMing CN"),
          QStringLiteral("AR PL UKai CN"),
          QStringLiteral("Droid Sans Fallback")};
}

FaceChoice choose_face(const FaceCatalogue& catalogue, const QStringList& preference,
                       const std::vector<LabelFit>& fits, double design_points) {
  QStringList candidates;
  for (const QString& family : preference + catalogue.cjk_families()) {
    if (!candidates.contains(family) && catalogue.has_cjk_glyphs(family)) candidates << family;
  }
  for (const QString& family : candidates) {
    if (fits_at(catalogue, family, design_points, fits)) return {family, design_points};
  }
  const QString family = candidates.isEmpty() ? preference.value(0) : candidates.front();
  double points = design_points;
  while (points - size_step >= smallest_points && !fits_at(catalogue, family, points, fits)) {
    points -= size_step;
  }
  return {family, points};
}
