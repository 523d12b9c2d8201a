#include "relay_panel_win/number_box.h"

#include <commctrl.h>

#include <algorithm>

#include "panel/number_box_coupling.h"
#include "relay_panel_win/win_text.h"

namespace {
HMENU control_id(int id) {
  return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
}
}  // namespace

NumberBox::NumberBox(HWND parent, int box_id, int bar_id)
    : box_(CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"1",
                           WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | ES_AUTOHSCROLL, 0,
                           0, 0, 0, parent, control_id(box_id), GetModuleHandleW(nullptr),
                           nullptr)),
      bar_(CreateWindowExW(0, UPDOWN_CLASSW, L"",
                           WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | UDS_ARROWKEYS, 0,
                           0, 0, 0, parent, control_id(bar_id), GetModuleHandleW(nullptr),
                           nullptr)) {
  SendMessageW(bar_, UDM_SETRANGE32, spin_bottom_number, spin_top_number);
  SendMessageW(bar_, UDM_SETPOS32, 0, number_);
  SetWindowSubclass(bar_, bar_keys, 0, reinterpret_cast<DWORD_PTR>(this));
}

std::string NumberBox::text() const {
  return window_text(box_);
}

// As when typed, the caret stands after the new text.
void NumberBox::set_text(const std::string& text) {
  const std::wstring now = wide(text);
  if (narrow(now) == this->text()) return;
  SetWindowTextW(box_, now.c_str());
  SendMessageW(box_, EM_SETSEL, now.size(), static_cast<LPARAM>(now.size()));
}

void NumberBox::set_number(int number) {
  number = std::clamp(number, spin_bottom_number, spin_top_number);
  if (number == number_) return;
  number_ = number;
  SendMessageW(bar_, UDM_SETPOS32, 0, number_);
  if (on_number_changed) on_number_changed();
}

// A refused keystroke (or paste) is taken back, caret and all, and nobody hears of it.
void NumberBox::box_changed() {
  if (restoring_) return;
  std::wstring now(static_cast<std::size_t>(GetWindowTextLengthW(box_)) + 1, L'\0');
  now.resize(
      static_cast<std::size_t>(GetWindowTextW(box_, now.data(), static_cast<int>(now.size()))));
  if (!acceptable_box_text(narrow(now))) {
    DWORD caret = 0;
    SendMessageW(box_, EM_GETSEL, 0, reinterpret_cast<LPARAM>(&caret));
    const long grown = static_cast<long>(now.size()) - static_cast<long>(accepted_.size());
    const long back = std::clamp(static_cast<long>(caret) - std::max(grown, 0L), 0L,
                                 static_cast<long>(accepted_.size()));
    restoring_ = true;
    SetWindowTextW(box_, accepted_.c_str());
    restoring_ = false;
    SendMessageW(box_, EM_SETSEL, static_cast<WPARAM>(back), back);
    return;
  }
  accepted_ = now;
  if (on_text_changed) on_text_changed();
}

// The arrows report each step with the bar's new position (SB_THUMBPOSITION); asking the
// bar itself is no good, as some systems call that a failure for a bar without a buddy.
void NumberBox::bar_moved(WPARAM scroll) {
  if (LOWORD(scroll) == SB_THUMBPOSITION) set_number(static_cast<short>(HIWORD(scroll)));
}

// The arrow keys step the number while the bar itself has the focus: the bar takes a
// place of its own in the Tab order.
LRESULT CALLBACK NumberBox::bar_keys(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                     UINT_PTR, DWORD_PTR self) {
  auto& box = *reinterpret_cast<NumberBox*>(self);
  if (message == WM_GETDLGCODE) return DLGC_WANTARROWS;
  if (message == WM_KEYDOWN && (wparam == VK_UP || wparam == VK_DOWN)) {
    box.set_number(box.number_ + (wparam == VK_UP ? 1 : -1));
    return 0;
  }
  if (message == WM_SETFOCUS || message == WM_KILLFOCUS) InvalidateRect(window, nullptr, FALSE);
  if (message == WM_PAINT) {
    const LRESULT painted = DefSubclassProc(window, message, wparam, lparam);
    // Up-down controls draw no focus mark of their own, yet they take the focus.
    if (GetFocus() == window) {
      HDC dc = GetDC(window);
      RECT area;
      GetClientRect(window, &area);
      DrawFocusRect(dc, &area);
      ReleaseDC(window, dc);
    }
    return painted;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(window, bar_keys, 0);
  return DefSubclassProc(window, message, wparam, lparam);
}
