#pragma once

#include <array>
#include <utility>
#include <vector>

#include "link/indicator_panel.h"

// Sixteen indicators in memory, starting yellow as the window does; remembers every
// paint in order.
class FakeIndicators : public IndicatorPanel {
 public:
  FakeIndicators() {
    colours.fill(colour_yellow);
    states.fill(IndicatorState::Unknown);
  }

  void paint(int relay, IndicatorState state) override {
    colours.at(relay - 1) = indicator_colour(state);
    states.at(relay - 1) = state;
    paints.emplace_back(relay, state);
  }
  Colour box_colour(int relay) const override { return colours.at(relay - 1); }

  std::array<Colour, relay_count> colours{};
  std::array<IndicatorState, relay_count> states{};
  std::vector<std::pair<int, IndicatorState>> paints;
};
