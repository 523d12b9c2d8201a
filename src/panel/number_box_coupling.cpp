#include "panel/number_box_coupling.h"

#include "common/text_number.h"

std::optional<int> spin_number(std::string_view text) {
  const auto number = text_to_int16(text);
  if (!number || *number < spin_bottom_number || *number > spin_top_number) return std::nullopt;
  return *number;
}

std::string spin_text(int number) {
  return number_to_text(static_cast<unsigned>(number));
}

bool acceptable_box_text(std::string_view text) {
  if (text.empty()) return true;
  return spin_number(text).has_value();
}
