#include "relay_panel_win/window_class.h"

#include <windows.h>

namespace {
constexpr int program_icon = 1;  // the icon resource of both programs
}  // namespace

void register_window_class(const wchar_t* name) {
  WNDCLASSEXW kind{};
  kind.cbSize = sizeof kind;
  kind.lpfnWndProc = DefWindowProcW;
  kind.hInstance = GetModuleHandleW(nullptr);
  kind.hIcon = LoadIconW(kind.hInstance, MAKEINTRESOURCEW(program_icon));
  kind.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
  kind.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_3DFACE + 1));
  kind.lpszClassName = name;
  // A second registration of the same class fails harmlessly: the first one stands.
  RegisterClassExW(&kind);
}
