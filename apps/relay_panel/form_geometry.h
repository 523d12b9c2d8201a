#pragma once

#include <QRect>
#include <QSize>

#include "panel/form_geometry.h"

// The forms' places as Qt's rectangles, at 96 DPI; Qt scales them for the screen.
constexpr QRect to_pixels(Twips t) {
  const PixelRect r = pixel_rect(t);
  return QRect(r.left, r.top, r.width, r.height);
}

constexpr QSize client_size(const PixelRect& client) {
  return QSize(client.width, client.height);
}
