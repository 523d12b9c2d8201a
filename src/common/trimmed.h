#pragma once

#include <string_view>

// `text` without the blanks (spaces, tabs, a carriage return) around it.
inline std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}
