#include "relay_panel/face_choice.h"

#include <gtest/gtest.h>

#include <QMap>
#include <QSet>
#include <cmath>

namespace {

// Faces with made-up widths: each character of a text is as wide as the face's
// "unknown" at 15 points divided by 7 (a blank half that), and scales with the size. A face that is
// not installed is drawn in DejaVu, as fontconfig does for SimSun on Debian.
class MadeUpFaces : public FaceCatalogue {
 public:
  MadeUpFaces(QMap<QString, int> unknown_widths) : installed_(std::move(unknown_widths)) {}

  bool has_cjk_glyphs(const QString& family) const override {
    if (installed_.contains(family)) loaded << family;
    return installed_.contains(family) && family != "DejaVu Sans";
  }
  QStringList cjk_families() const override {
    enumerated = true;
    QStringList families = installed_.keys();
    families.removeAll("DejaVu Sans");
    return families;
  }
  int advance(const QString& family, double points, const QString& text) const override {
    if (installed_.contains(family)) loaded << family;
    const int unknown = installed_.value(family, dejavu_unknown);
    const double characters = text.size() - text.count(' ') / 2.0;
    return static_cast<int>(std::lround(characters * unknown / 7.0 * points / 15));
  }

  // The installed faces the choice looked into (which loads a real face), and whether
  // it asked for the list of them.
  mutable QSet<QString> loaded;
  mutable bool enumerated = false;

 private:
  static constexpr int dejavu_unknown = 91;
  QMap<QString, int> installed_;
};

// The panel's labels: the state captions in 81 pixels, the names in 89.
const std::vector<LabelFit> panel_labels{{{"unknown", "  opened", "  closed"}, 81},
                                         {{"relay 16", "relay16"}, 89}};

TEST(FaceChoiceTest, TheFirstPreferredFaceInWhichEveryCaptionFitsOrTheBestOneShrunk) {
  const struct {
    const char* situation;
    QMap<QString, int> installed;  // "unknown" at 15 points, in pixels
    FaceChoice expected;
  } cases[] = {
      {"a Chinese desktop with Noto CJK beside WenQuanYi",
       {{"Noto Serif CJK SC", 93}, {"Noto Sans CJK SC", 88}, {"WenQuanYi Zen Hei", 77}},
       {"WenQuanYi Zen Hei", 15}},
      {"SimSun where it is installed, even beside a narrower face",
       {{"SimSun", 80}, {"WenQuanYi Zen Hei", 77}},
       {"SimSun", 15}},
      {"Noto CJK only: the preferred one, shrunk until \"unknown\" fits",
       {{"Noto Serif CJK SC", 93}, {"Noto Sans CJK SC", 88}},
       {"Noto Sans CJK SC", 13.75}},
      {"no CJK face: SimSun as the desktop draws it, shrunk",
       {{"DejaVu Sans", 91}},
       {"SimSun", 13.25}},
      {"an unlisted face that fits beats shrinking a listed one",
       {{"Noto Sans CJK SC", 88}, {"Made Up Hei", 70}},
       {"Made Up Hei", 15}},
      {"Noto CJK's narrower variants for other regions and monospace never count",
       {{"Noto Sans CJK SC", 88},
        {"Noto Sans CJK HK", 75},
        {"Noto Sans Mono CJK HK", 70},
        {"Noto Serif CJK TC", 60}},
       {"Noto Sans CJK SC", 13.75}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.situation);
    const FaceChoice choice =
        choose_face(MadeUpFaces(c.installed), preferred_faces(), panel_labels, 15);
    EXPECT_EQ(choice.family.toStdString(), c.expected.family.toStdString());
    EXPECT_EQ(choice.points, c.expected.points);
  }
}

// Loading a face costs its memory and start time: a desktop with every Noto CJK
// variant must cost what one with a single face does.
TEST(FaceChoiceTest, OnlyTheFacesWhoseTurnComesAreLookedInto) {
  const QMap<QString, int> noto{{"Noto Sans CJK SC", 88},      {"Noto Serif CJK SC", 93},
                                {"Noto Sans CJK JP", 88},      {"Noto Sans CJK KR", 88},
                                {"Noto Sans Mono CJK SC", 70}, {"Noto Serif CJK TC", 93}};
  QMap<QString, int> noto_and_wenquanyi = noto;
  noto_and_wenquanyi.insert("WenQuanYi Zen Hei", 77);
  const struct {
    const char* situation;
    QMap<QString, int> installed;
    const char* loaded;  // sorted
    bool enumerated;
  } cases[] = {
      {"a preferred face fits", noto_and_wenquanyi, "WenQuanYi Zen Hei", false},
      {"none fits: the list is read, the other variants are not loaded", noto,
       "Noto Sans CJK SC, Noto Serif CJK SC", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.situation);
    const MadeUpFaces faces(c.installed);
    choose_face(faces, preferred_faces(), panel_labels, 15);
    QStringList loaded = faces.loaded.values();
    loaded.sort();
    EXPECT_EQ(loaded.join(", ").toStdString(), c.loaded);
    EXPECT_EQ(faces.enumerated, c.enumerated);
  }
}

// The preferred faces, all Simplified Chinese, are checked below.
TEST(FaceChoiceTest, VariantsForOtherRegionsAndMonospaceAreToldByTheirNames) {
  for (const char* family : {"Noto Sans Mono CJK SC", "Noto Sans CJK HK", "Source Han Sans K",
                             "Source Han Sans HW SC", "AR PL UMing TW MBE", "Noto Serif CJK JP",
                             "Noto Sans CJK KR", "WenQuanYi Zen Hei Mono", "NSimSun"}) {
    EXPECT_FALSE(made_for_simplified_chinese(family)) << family;
  }
}

TEST(FaceChoiceTest, TheDesignsFaceComesFirstAndWhatTheScreenshotShowsNext) {
  const QStringList faces = preferred_faces();
  ASSERT_GE(faces.size(), 4);
  EXPECT_EQ(faces[0], "SimSun");
  for (const QString& face : faces)
    EXPECT_TRUE(made_for_simplified_chinese(face)) << face.toStdString();
  EXPECT_LT(faces.indexOf("WenQuanYi Zen Hei"), faces.indexOf("Noto Sans CJK SC"));
  EXPECT_LT(faces.indexOf("WenQuanYi Zen Hei"), faces.indexOf("Noto Serif CJK SC"));
}

}  // namespace
