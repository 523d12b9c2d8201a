#pragma once

#include <QColor>
#include <QPalette>

#include "link/indicator_state.h"

// The colour to paint for a stored colour value. RGB values (top byte 0) have red in
// the low byte; the desktop system colours are taken from the palette: grey text is
// the disabled text colour, the 3D face the button colour.
QColor panel_colour(Colour value, const QPalette& palette);
