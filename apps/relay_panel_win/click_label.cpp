#include "relay_panel_win/click_label.h"

#include <commctrl.h>

namespace {
constexpr UINT_PTR subclass_id = 1;

LRESULT CALLBACK click_filter(HWND label, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                              DWORD_PTR) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      SetCapture(label);
      return 0;
    case WM_LBUTTONUP: {
      if (GetCapture() != label) return 0;
      ReleaseCapture();
      RECT area;
      GetClientRect(label, &area);
      const POINT where{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
      if (PtInRect(&area, where)) {
        SendMessageW(GetParent(label), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(label), STN_CLICKED),
                     reinterpret_cast<LPARAM>(label));
      }
      return 0;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(label, click_filter, subclass_id);
      break;
    default:
      break;
  }
  return DefSubclassProc(label, message, wparam, lparam);
}
}  // namespace

void take_clicks_as_buttons_do(HWND label) {
  SetWindowSubclass(label, click_filter, subclass_id, 0);
}
