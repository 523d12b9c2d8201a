#pragma once

#include <windows.h>

#include <string>

// The core speaks UTF-8; the window's controls speak UTF-16: wide() and narrow() cross
// between the two.
#include "common/wide_text_windows.h"

// A window's text as UTF-8.
std::string window_text(HWND window);
// A window's text, changed only when it differs: an edit control reports every
// SetWindowText as a change, and the coupled boxes rely on hearing real ones only.
void set_window_text(HWND window, const std::wstring& text);
