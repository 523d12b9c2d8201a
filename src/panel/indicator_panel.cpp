#include "panel/indicator_panel.h"

void paint_all(IndicatorPanel& panel, IndicatorState state) {
  for (int relay = 1; relay <= relay_count; ++relay) panel.paint(relay, state);
}
