#pragma once

#include "panel/indicator_state.h"

// The 16 indicators as the core sees them; the window implements it.
class IndicatorPanel {
 public:
  virtual ~IndicatorPanel() = default;
  // Relay 1..16: sets the box colour to indicator_colour(state), then the state
  // label's caption to indicator_caption(state).
  virtual void paint(int relay, IndicatorState state) = 0;
  // The colour value the box holds now, exactly as painted.
  virtual Colour box_colour(int relay) const = 0;
};

// Paints relays 1..16 in order with one state.
void paint_all(IndicatorPanel& panel, IndicatorState state);
