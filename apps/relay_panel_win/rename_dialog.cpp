#include "relay_panel_win/rename_dialog.h"

#include <utility>

#include "panel/form_geometry.h"
#include "panel/spoken_names.h"
#include "relay_panel_win/dpi_scale.h"
#include "relay_panel_win/screen_reader_names.h"
#include "relay_panel_win/win_text.h"
#include "relay_panel_win/window_class.h"

namespace {
constexpr wchar_t dialog_class[] = L"relay_panel_rename";
constexpr DWORD dialog_style = WS_OVERLAPPEDWINDOW;
constexpr wchar_t initial_text[] = L"Text1";

HWND control(HWND parent, const wchar_t* kind, const wchar_t* text, DWORD style, DWORD ex_style,
             int id) {
  return CreateWindowExW(ex_style, kind, text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 0, 0, 0,
                         0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleW(nullptr), nullptr);
}

void place(HWND child, Twips where, UINT dpi, HFONT font) {
  const RECT r = scaled_rect(where, dpi);
  SetWindowPos(child, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}
}  // namespace

RenameDialog::RenameDialog(PanelNames& names, MessageBoxes& messages,
                           std::function<void()> name_stored)
    : names_(names), messages_(messages), name_stored_(std::move(name_stored)) {
  register_window_class(dialog_class);
  window_ = CreateWindowExW(0, dialog_class, L"\u66F4\u6539\u540D\u79F0", dialog_style,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
  name_box_ =
      control(window_, L"EDIT", initial_text, ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, name_box_id);
  ok_button_ = control(window_, L"BUTTON", L"\u786E \u5B9A", BS_PUSHBUTTON, 0, ok_id);
  cancel_button_ = control(window_, L"BUTTON", L"\u53D6 \u6D88", BS_PUSHBUTTON, 0, cancel_id);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(window_proc));
  dpi_ = window_dpi(window_);
  lay_out();
}

RenameDialog::~RenameDialog() {
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

void RenameDialog::lay_out() {
  // The controls let go of the old fonts before they are deleted.
  const auto old_fonts = std::exchange(fonts_, std::make_unique<PanelFonts>(dpi_));
  const auto& g = name_form_geometry;
  place(name_box_, g.name_box, dpi_, fonts_->name_box());
  place(ok_button_, g.ok_button, dpi_, fonts_->dialog());
  place(cancel_button_, g.cancel_button, dpi_, fonts_->dialog());
}

void RenameDialog::show_or_raise() {
  // The box has no caption: a screen reader says whose name it holds, for the latest
  // relay asked for, which is the one OK stores it under.
  set_spoken_name(name_box_, rename_box_spoken_name(relay_text(), address_text()));
  if (!loaded_) {
    load();
    loaded_ = true;
    if (!sized_) {
      const PixelRect client = name_form_geometry.client();
      const SIZE size = window_size_for_client(client.width, client.height, dialog_style, 0, dpi_);
      SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      sized_ = true;
    }
    ShowWindow(window_, SW_SHOWNORMAL);
  }
  if (IsIconic(window_)) ShowWindow(window_, SW_RESTORE);
  SetForegroundWindow(window_);
  SetActiveWindow(window_);
}

// Every load starts from the box's initial text: a stored name replaces "Text1" only
// when the address and relay are in range.
void RenameDialog::load() {
  SetWindowTextW(name_box_, initial_text);
  const StoredName stored = names_.stored_name();
  if (stored.error) messages_.show(*stored.error);
  if (stored.name) SetWindowTextW(name_box_, wide(*stored.name).c_str());
  // Selected from its end back, the caret stays at its start and a name wider than the
  // box shows from its first character; typing replaces it.
  const auto length = GetWindowTextLengthW(name_box_);
  SendMessageW(name_box_, EM_SETSEL, static_cast<WPARAM>(length), 0);
  focus_ = name_box_;
  SetFocus(name_box_);
}

void RenameDialog::close() {
  loaded_ = false;
  ShowWindow(window_, SW_HIDE);
}

// A name that was not stored stays in the box (the operator has been told why), so
// that it can be mended or the write tried again.
void RenameDialog::ok_clicked() {
  waiting_ = true;
  names_.store(window_text(name_box_),
               [this, alive = std::weak_ptr<char>(alive_)](const RenameOutcome& outcome) {
                 if (!alive.expired()) stored(outcome);
               });
  // The owner of a served line answers later: one rename in flight at a time. The
  // keyboard stays in the name box rather than on a disabled button.
  if (!waiting_) return;
  if (GetFocus() == ok_button_) SetFocus(name_box_);
  EnableWindow(ok_button_, FALSE);
}

void RenameDialog::stored(const RenameOutcome& outcome) {
  waiting_ = false;
  EnableWindow(ok_button_, TRUE);
  if (outcome.error) messages_.show(*outcome.error);
  if (!outcome.stored) return;
  if (name_stored_) name_stored_();
  close();
}

bool RenameDialog::handles(MSG& message) {
  if (!loaded_ || !IsWindowVisible(window_)) return false;
  return IsDialogMessageW(window_, &message) != FALSE;
}

LRESULT CALLBACK RenameDialog::window_proc(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
  auto* self = reinterpret_cast<RenameDialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wparam, lparam);
  return self->handle(message, wparam, lparam);
}

LRESULT RenameDialog::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND: {
      const int code = HIWORD(wparam);
      if (code != BN_CLICKED && code != BN_DOUBLECLICKED) return 0;
      if (LOWORD(wparam) == ok_id) ok_clicked();
      if (LOWORD(wparam) == cancel_id) close();
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE && loaded_) {
        if (HWND focused = GetFocus(); focused && IsChild(window_, focused)) break;
        SetFocus(focus_ ? focus_ : name_box_);
        return 0;
      }
      if (LOWORD(wparam) == WA_INACTIVE) {
        if (HWND focused = GetFocus(); focused && IsChild(window_, focused)) focus_ = focused;
      }
      break;
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wparam);
      lay_out();
      const auto& suggested = *reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(window_, nullptr, suggested.left, suggested.top,
                   suggested.right - suggested.left, suggested.bottom - suggested.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_CLOSE:
      close();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}
