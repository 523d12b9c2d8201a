#pragma once

// The board the panel drives: 16 relays, numbered 1 to 16, at an address from 0 to 255.
inline constexpr int relay_count = 16;
inline constexpr int highest_address = 255;
