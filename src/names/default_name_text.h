#pragma once

#include <string>

// The text of a new name file: the title "Corvanti", then for every address 0..255
// its header and the names "relay1".."relay16", in CR LF lines.
std::string default_name_text();
