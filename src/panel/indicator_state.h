#pragma once

#include <cstdint>
#include <string_view>

#include "common/board_limits.h"

// A colour as the panel stores it: top byte 0 is RGB with red in the low byte;
// top byte 0x80 is a desktop system colour whose number is in the low byte.
using Colour = std::uint32_t;

inline constexpr Colour colour_green = 0x0000FF00;
inline constexpr Colour colour_red = 0x000000FF;
inline constexpr Colour colour_yellow = 0x0000FFFF;
inline constexpr Colour colour_system_grey_text = 0x80000011;
inline constexpr Colour colour_system_3d_face = 0x8000000F;

// What an indicator box shows about its relay. The box colour is the panel's only
// record of a relay's last reported state: a click reads it back.
enum class IndicatorState { Opened, Closed, Unknown, Idle };

constexpr Colour indicator_colour(IndicatorState state) {
  switch (state) {
    case IndicatorState::Opened:
      return colour_green;
    case IndicatorState::Closed:
      return colour_red;
    case IndicatorState::Unknown:
      return colour_yellow;
    case IndicatorState::Idle:
      return colour_system_grey_text;
  }
  return colour_yellow;
}

constexpr std::string_view indicator_caption(IndicatorState state) {
  switch (state) {
    case IndicatorState::Opened:
      return "  opened";
    case IndicatorState::Closed:
      return "  closed";
    case IndicatorState::Unknown:
    case IndicatorState::Idle:
      return "unknown";
  }
  return "unknown";
}
