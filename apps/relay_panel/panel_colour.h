#pragma once

#include <QColor>
#include <QPalette>

#include "panel/indicator_state.h"

// The colour to paint for a stored colour value. RGB values (top byte 0) have red in
// the low byte. The indicators' grey (stored as the system grey-text colour) is the grey
// of the light colour scheme the panel was laid out in, on every desktop: like green, red
// and yellow it stands for a state of the board, and the black state captions must stay
// legible on it under a dark theme too. Other system colours follow the desktop's
// palette (the 3D face is the button colour).
QColor panel_colour(Colour value, const QPalette& palette);

// The colour of the state captions on every indicator colour.
inline const QColor indicator_caption_colour{Qt::black};
