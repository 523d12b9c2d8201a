#pragma once

#include <windows.h>

#include "panel/form_geometry.h"

// The forms are laid out in pixels at 96 DPI; every window scales them by its own
// monitor's DPI, and again when it moves to a monitor with another one.

// Asks for per-monitor DPI awareness where the manifest's setting is not read (systems
// before Windows 10 1703 read only part of it). Call once, before the first window.
void become_dpi_aware();

UINT window_dpi(HWND window);

constexpr int scaled(int pixels, UINT dpi) {
  return static_cast<int>((static_cast<long long>(pixels) * dpi + 48) / 96);
}

// A placement from the form geometry as a rectangle at `dpi`; edges are scaled, not
// sizes, so neighbours that touch at 96 DPI still touch.
RECT scaled_rect(Twips where, UINT dpi);
// The same, offset by `dx`, `dy` pixels at 96 DPI (a caption inside its box's border).
RECT scaled_rect(Twips where, int dx, int dy, UINT dpi);

// The window rectangle for a client area of `width` x `height` pixels at 96 DPI.
SIZE window_size_for_client(int width, int height, DWORD style, DWORD ex_style, UINT dpi);

// The system's message font at `dpi`.
LOGFONTW message_font(UINT dpi);
