#pragma once

#include <string>
#include <string_view>

#include "common/board_limits.h"

// Sections and keys of the name file.
inline constexpr std::string_view default_title = "Corvanti";
inline constexpr std::string_view title_section = "Software properties";
inline constexpr std::string_view title_key = "The name";
// A file holding exactly this header line counts as set up.
inline constexpr std::string_view first_address_section = "address 0";

// The section of a board address, built from its text as typed ("01" stays "01").
inline std::string address_section(std::string_view address) {
  return std::string("address ").append(address);
}

// The key of a relay's name, from the relay number as text.
inline std::string relay_key(std::string_view relay) {
  return std::string("relay").append(relay).append("name");
}
