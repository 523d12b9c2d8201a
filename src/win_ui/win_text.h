#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// The core speaks UTF-8; the window's controls speak UTF-16. These are the only
// crossings between the two.
std::wstring wide(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

// A window's text as UTF-8.
std::string window_text(HWND window);
// A window's text, changed only when it differs: an edit control reports every
// SetWindowText as a change, and the coupled boxes rely on hearing real ones only.
void set_window_text(HWND window, const std::wstring& text);
