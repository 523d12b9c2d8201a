#include "relay_panel_win/indicator_button.h"

#include <commctrl.h>

#include <algorithm>

#include "panel/form_geometry.h"
#include "panel/spoken_names.h"
#include "relay_panel_win/dpi_scale.h"
#include "relay_panel_win/win_text.h"

namespace {
constexpr int border_width = 2;
constexpr Colour system_colour_flag = 0x80000000;
constexpr COLORREF caption_colour = RGB(0, 0, 0);

bool key_down(int key) {
  return (GetKeyState(key) & 0x8000) != 0;
}

// F2 renames as it goes down. The menu keys rename as they come up: the system makes a
// menu of their release (the context menu, or menu mode for F10), which would otherwise
// land in the rename dialog that has the focus by then. Their press is swallowed and
// remembered, as Shift may well be let go before F10 is.
bool is_f2(UINT message, WPARAM key) {
  const bool plain = !key_down(VK_SHIFT) && !key_down(VK_CONTROL) && !key_down(VK_MENU);
  return (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) && key == VK_F2 && plain;
}

WPARAM menu_key_down(UINT message, WPARAM key) {
  if (message != WM_KEYDOWN && message != WM_SYSKEYDOWN) return 0;
  const bool shift = key_down(VK_SHIFT);
  const bool other = key_down(VK_CONTROL) || key_down(VK_MENU);
  if (key == VK_F10 && shift && !other) return key;
  if (key == VK_APPS && !shift && !other) return key;
  return 0;
}

// The toolkit's sunken border, two lines deep at 96 DPI and as deep as the scale asks
// for above it.
void draw_sunken_border(HDC dc, RECT box, UINT dpi) {
  const int depth = std::max(1, scaled(1, dpi));
  for (const UINT line : {BDR_SUNKENOUTER, BDR_SUNKENINNER}) {
    for (int i = 0; i < depth; ++i) {
      DrawEdge(dc, &box, line, BF_RECT);
      InflateRect(&box, -1, -1);
    }
  }
}

// The caption's place in the box, within its border.
RECT caption_rect(UINT dpi) {
  return scaled_rect(main_form_geometry.state_caption, border_width, border_width, dpi);
}
}  // namespace

COLORREF screen_colour(Colour colour) {
  if ((colour & 0xFF000000) == system_colour_flag) return GetSysColor(colour & 0xFF);
  return colour;
}

IndicatorButton::IndicatorButton(HWND parent, int relay, int control_id)
    : button_(CreateWindowExW(
          0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | BS_OWNERDRAW, 0,
          0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(control_id)),
          GetModuleHandleW(nullptr), nullptr)),
      relay_(relay),
      caption_(indicator_caption(IndicatorState::Unknown)) {
  SetWindowSubclass(button_, key_filter, 0, reinterpret_cast<DWORD_PTR>(this));
  update_spoken_name();
}

// The board reports every 50 ms and mostly repeats itself: only a real change costs a
// repaint.
void IndicatorButton::paint(IndicatorState state) {
  const Colour colour = indicator_colour(state);
  const std::string caption(indicator_caption(state));
  if (colour == colour_ && caption == caption_) return;
  colour_ = colour;
  if (caption != caption_) {
    caption_ = caption;
    update_spoken_name();
  }
  InvalidateRect(button_, nullptr, FALSE);
}

void IndicatorButton::set_relay_name(const std::string& name) {
  if (name == relay_name_) return;
  relay_name_ = name;
  update_spoken_name();
}

void IndicatorButton::update_spoken_name() {
  set_window_text(button_, wide(indicator_spoken_name(relay_, relay_name_, caption_)));
}

void IndicatorButton::draw(const DRAWITEMSTRUCT& item, HFONT caption_font, UINT dpi) const {
  HDC dc = item.hDC;
  RECT box = item.rcItem;
  HBRUSH fill = CreateSolidBrush(screen_colour(colour_));
  FillRect(dc, &box, fill);
  DeleteObject(fill);
  draw_sunken_border(dc, box, dpi);

  const std::wstring text = wide(caption_);
  RECT where = caption_rect(dpi);
  HGDIOBJ old_font = SelectObject(dc, caption_font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, caption_colour);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &where,
            DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old_font);

  if (item.itemState & ODS_FOCUS) {
    RECT mark = box;
    InflateRect(&mark, -scaled(border_width + 1, dpi), -scaled(border_width + 1, dpi));
    DrawFocusRect(dc, &mark);
  }
}

bool IndicatorButton::on_caption(POINT client_point, UINT dpi) const {
  POINT inside = client_point;
  MapWindowPoints(GetParent(button_), button_, &inside, 1);
  const RECT caption = caption_rect(dpi);
  return PtInRect(&caption, inside) != FALSE;
}

LRESULT CALLBACK IndicatorButton::key_filter(HWND window, UINT message, WPARAM wparam,
                                             LPARAM lparam, UINT_PTR, DWORD_PTR self) {
  auto& box = *reinterpret_cast<IndicatorButton*>(self);
  const bool repeat = (lparam & (1 << 30)) != 0;
  if (is_f2(message, wparam)) {
    if (!repeat && box.on_rename) box.on_rename();
    return 0;
  }
  if (const WPARAM key = menu_key_down(message, wparam)) {
    box.menu_key_ = key;
    return 0;
  }
  if ((message == WM_KEYUP || message == WM_SYSKEYUP) && wparam == box.menu_key_) {
    box.menu_key_ = 0;
    if (box.on_rename) box.on_rename();
    return 0;
  }
  if (message == WM_KILLFOCUS) box.menu_key_ = 0;
  // Systems that turn the keys into a menu request send that instead of (or as well
  // as) the key; opening the dialog again only brings it to the front.
  if (message == WM_CONTEXTMENU && lparam == -1) {
    if (box.on_rename) box.on_rename();
    return 0;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(window, key_filter, 0);
  return DefSubclassProc(window, message, wparam, lparam);
}
