#include "relay_panel/panel_colour.h"

namespace {
constexpr Colour system_colour_flag = 0x80000000;
// The grey-text colour of the classic light scheme: black on it contrasts 5.3 : 1.
constexpr QRgb light_scheme_grey_text = qRgb(128, 128, 128);
}  // namespace

QColor panel_colour(Colour value, const QPalette& palette) {
  if (value == colour_system_grey_text) return QColor(light_scheme_grey_text);
  if (value == colour_system_3d_face) return palette.color(QPalette::Active, QPalette::Button);
  if ((value & 0xFF000000) == system_colour_flag) {
    return palette.color(QPalette::Active, QPalette::Window);
  }
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}
