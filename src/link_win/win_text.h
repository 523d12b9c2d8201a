#pragma once

#include <string>

// The Windows API speaks UTF-16; the panel's text is UTF-8.
std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& utf16);

// The system's own words for an error code, without the trailing line break.
std::string system_error_text(unsigned long error);
