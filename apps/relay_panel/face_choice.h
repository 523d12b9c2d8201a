#pragma once

#include <QString>
#include <QStringList>
#include <vector>

// How the panel picks its face. Its own face is SimSun, which only a Chinese
// Windows desktop has; elsewhere the panel takes the first installed face, in the
// order of preferred_faces(), that has the Chinese glyphs and in which the state
// captions and the names fit their labels at the preferred size. Where none fits, the
// face standing in for SimSun is shrunk until they do, so "unknown" is never cut to
// "unknow". Only faces drawn for Simplified Chinese count: a CJK family's monospaced,
// Hong Kong, Taiwan, Japanese and Korean variants have other glyph shapes or widths.
// A face is loaded only when its turn comes, so a desktop with many CJK faces starts
// as fast and as small as one with a single face.

// What the choice needs to know about the installed faces: the panel asks Qt's font
// database, a test answers with made-up widths.
class FaceCatalogue {
 public:
  virtual ~FaceCatalogue() = default;
  // The face is installed itself (not a substitute fontconfig offers for its name)
  // and draws the panel's Chinese text.
  virtual bool has_cjk_glyphs(const QString& family) const = 0;
  // The names of the installed faces with Chinese glyphs, in the font database's
  // order, read without loading the faces; asked only once no preferred face fits.
  virtual QStringList cjk_families() const = 0;
  // The advance of `text` in pixels; for a face that is not installed, that of the
  // face the desktop puts in its place.
  virtual int advance(const QString& family, double points, const QString& text) const = 0;
};

// Texts that must fit a label of `width` pixels (its width inside its margins).
struct LabelFit {
  QStringList texts;
  int width = 0;
};

struct FaceChoice {
  QString family;
  double points = 0;  // the size of the state captions and names; the preferred when they fit

  bool operator==(const FaceChoice&) const = default;
};

// SimSun first (the panel's own face, under both its names), then the faces that Debian
// and other desktops install for Chinese, narrowest Latin first.
QStringList preferred_faces();

// False for the variants of a CJK family made for other writing conventions ("Noto
// Sans CJK HK", "Noto Sans Mono CJK SC", "Source Han Sans K"), told by their name.
bool made_for_simplified_chinese(const QString& family);

// The first face of `preference`, then of the other installed Simplified-Chinese faces,
// in which every text fits its label at `preferred_points`. Where none fits: the first of
// them (or, with no CJK face at all, SimSun as the desktop substitutes it)
// at the largest size in quarter points that fits.
FaceChoice choose_face(const FaceCatalogue& catalogue, const QStringList& preference,
                       const std::vector<LabelFit>& fits, double preferred_points);
