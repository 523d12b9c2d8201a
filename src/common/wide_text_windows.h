#pragma once

#include <string>
#include <string_view>

// The Windows API speaks UTF-16; the panel's text is UTF-8.
std::wstring wide(std::string_view utf8);
std::string narrow(std::wstring_view utf16);
