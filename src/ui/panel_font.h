#pragma once

#include <QFont>

// The panel's face: SimSun at the given size in points. Where SimSun is missing
// (any desktop but a Chinese Windows one), a CJK face that fontconfig knows stands
// in for it, so Chinese names never fall back to empty boxes.
QFont panel_font(double points);
