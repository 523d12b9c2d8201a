#include "relay_panel_win/win_text.h"

namespace {
std::wstring wide_window_text(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(copied));
  return text;
}
}  // namespace

std::string window_text(HWND window) {
  return narrow(wide_window_text(window));
}

void set_window_text(HWND window, const std::wstring& text) {
  if (wide_window_text(window) != text) SetWindowTextW(window, text.c_str());
}
