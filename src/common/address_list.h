#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The boards a program serves on one line, as an operator writes them: "1,3,5-7".
// Decimal addresses 0..255 and ranges low-high separated by commas, blanks allowed
// around each item. The result is sorted, each address once; or a line that says what
// is wrong with the text.
std::variant<std::vector<std::uint8_t>, std::string> parse_address_list(std::string_view text);

// The list back as text, runs of three or more as ranges: {1,3,5,6,7} -> "1,3,5-7".
std::string address_list_text(const std::vector<std::uint8_t>& addresses);

// The relays of `relays` (bit r-1 for relay r) as rules.conf and the list topics write
// them: 0x0013 -> "1,2,5".
std::string relay_list_text(std::uint16_t relays);
