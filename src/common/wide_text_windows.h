#pragma once

#include <string>
#include <string_view>
#include <vector>

// The Windows API speaks UTF-16; the panel's text is UTF-8.
std::wstring wide(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

// The command line as typed, the program's name first, in UTF-8: main's own arguments
// come in the system's code page, which cannot hold every name.
std::vector<std::string> utf8_command_line();
