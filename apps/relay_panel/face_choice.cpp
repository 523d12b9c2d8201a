#include "relay_panel/face_choice.h"

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
          QStringLiteral("WenQuanYi Zen Hei"),
          QStringLiteral("WenQuanYi Micro Hei"),
          QStringLiteral("Noto Sans CJK SC"),
          QStringLiteral("Noto Serif CJK SC"),
          QStringLiteral("Source Han Sans SC"),
          QStringLiteral("AR PL UMing CN"),
          QStringLiteral("AR PL UKai CN"),
          QStringLiteral("Droid Sans Fallback")};
}

bool made_for_simplified_chinese(const QString& family) {
  // Region and spacing marks as the CJK families on Linux and Windows spell them, and
  // SimSun's monospaced twin.
  static const QStringList other_variants{"Mono", "HW", "HK", "TC", "TW",     "MBE",
                                          "JP",   "J",  "KR", "K",  "NSimSun"};
  const QStringList words = family.split(' ', Qt::SkipEmptyParts);
  return std::none_of(words.begin(), words.end(),
                      [](const QString& word) { return other_variants.contains(word); });
}

FaceChoice choose_face(const FaceCatalogue& catalogue, const QStringList& preference,
                       const std::vector<LabelFit>& fits, double preferred_points) {
  QString first_installed;
  const auto fits_at_preferred_size = [&](const QString& family) {
    if (!catalogue.has_cjk_glyphs(family)) return false;
    if (first_installed.isEmpty()) first_installed = family;
    return fits_at(catalogue, family, preferred_points, fits);
  };
  for (const QString& family : preference) {
    if (fits_at_preferred_size(family)) return {family, preferred_points};
  }
  for (const QString& family : catalogue.cjk_families()) {
    if (preference.contains(family) || !made_for_simplified_chinese(family)) continue;
    if (fits_at_preferred_size(family)) return {family, preferred_points};
  }
  const QString family = first_installed.isEmpty() ? preference.value(0) : first_installed;
  double points = preferred_points;
  while (points - size_step >= smallest_points && !fits_at(catalogue, family, points, fits)) {
    points -= size_step;
  }
  return {family, points};
}
