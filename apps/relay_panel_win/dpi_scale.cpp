#include "relay_panel_win/dpi_scale.h"

namespace {
template <typename Function>
Function system_function(const wchar_t* module, const char* name) {
  HMODULE library = GetModuleHandleW(module);
  if (!library) library = LoadLibraryW(module);
  if (!library) return nullptr;
  // Through a plain function pointer: the system's type for any export is FARPROC.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

using SetContextFunction = BOOL(WINAPI*)(HANDLE);
using SetAwarenessFunction = HRESULT(WINAPI*)(int);
using DpiForWindowFunction = UINT(WINAPI*)(HWND);
using AdjustForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
using ParametersForDpiFunction = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);

// DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, and SetProcessDpiAwareness's per-monitor value.
const HANDLE per_monitor_v2 = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4));
constexpr int process_per_monitor_aware = 2;

UINT system_dpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}
}  // namespace

void become_dpi_aware() {
  if (const auto set_context =
          system_function<SetContextFunction>(L"user32.dll", "SetProcessDpiAwarenessContext")) {
    // Fails harmlessly where the manifest already made the process aware.
    set_context(per_monitor_v2);
    return;
  }
  if (const auto set_awareness =
          system_function<SetAwarenessFunction>(L"shcore.dll", "SetProcessDpiAwareness")) {
    set_awareness(process_per_monitor_aware);
    return;
  }
  SetProcessDPIAware();
}

UINT window_dpi(HWND window) {
  static const auto for_window =
      system_function<DpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
  if (for_window && window) {
    if (const UINT dpi = for_window(window)) return dpi;
  }
  return system_dpi();
}

RECT scaled_rect(Twips where, UINT dpi) {
  return scaled_rect(where, 0, 0, dpi);
}

RECT scaled_rect(Twips where, int dx, int dy, UINT dpi) {
  const PixelRect r = pixel_rect(where);
  return {scaled(r.left + dx, dpi), scaled(r.top + dy, dpi), scaled(r.left + dx + r.width, dpi),
          scaled(r.top + dy + r.height, dpi)};
}

SIZE window_size_for_client(int width, int height, DWORD style, DWORD ex_style, UINT dpi) {
  RECT frame{0, 0, scaled(width, dpi), scaled(height, dpi)};
  static const auto adjust =
      system_function<AdjustForDpiFunction>(L"user32.dll", "AdjustWindowRectExForDpi");
  if (!adjust || !adjust(&frame, style, FALSE, ex_style, dpi)) {
    AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  }
  return {frame.right - frame.left, frame.bottom - frame.top};
}

LOGFONTW message_font(UINT dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  static const auto for_dpi =
      system_function<ParametersForDpiFunction>(L"user32.dll", "SystemParametersInfoForDpi");
  if (for_dpi && for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
    return metrics.lfMessageFont;
  }
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  // The system's answer is at the system's DPI.
  metrics.lfMessageFont.lfHeight =
      MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), static_cast<int>(system_dpi()));
  return metrics.lfMessageFont;
}
