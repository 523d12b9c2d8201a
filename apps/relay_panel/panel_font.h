#pragma once

#include <QFont>

#include "relay_panel/face_choice.h"

// The panel's face, chosen once from the installed faces (see face_choice.h): SimSun
// where the desktop has it, otherwise a face with the Chinese glyphs in which the state
// captions and the default names fit their labels.
const FaceChoice& panel_face();

// The panel's face at the given size in points, for the controls whose text has room
// to spare (captions of the boxes, buttons, the rename dialog's text box).
QFont panel_font(double points);

// The face of the state captions and the name labels: 15 points, or less
// where even the best installed face is too wide for their labels.
QFont caption_font();

// The size of the state captions and name labels where the face fits them.
inline constexpr double preferred_label_points = 15;
