#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/board_limits.h"

// The port and address boxes and their spin bars, as both windows couple them: a box's
// text moves its spin bar only when it gives a number the bar can hold (0 to 255);
// any other text (the empty box while the operator types a new number) leaves the
// bar, and the names, as they are. A bar's number goes into its box as plain digits.

inline constexpr int spin_bottom_number = 0;
inline constexpr int spin_top_number = highest_address;

// The number a box's text gives when its spin bar can hold it.
std::optional<int> spin_number(std::string_view text);

// The text a spin bar's number puts in its box.
std::string spin_text(int number);

// Whether the box may hold this text at all: empty (on the way to a number) or a
// number from 0 to 255. Other keystrokes are refused.
bool acceptable_box_text(std::string_view text);
