#include "ui/panel_colour.h"

namespace {
constexpr Colour system_colour_flag = 0x80000000;
constexpr Colour system_grey_text = 0x11;
constexpr Colour system_3d_face = 0x0F;
}  // namespace

QColor panel_colour(Colour value, const QPalette& palette) {
  if ((value & 0xFF000000) == system_colour_flag) {
    switch (value & 0xFF) {
      case system_grey_text:
        return palette.color(QPalette::Disabled, QPalette::WindowText);
      case system_3d_face:
        return palette.color(QPalette::Active, QPalette::Button);
      default:
        return palette.color(QPalette::Active, QPalette::Window);
    }
  }
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}
