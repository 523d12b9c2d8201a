#include "relay_panel_win/window_controls.h"

#include <commctrl.h>

#include "panel/form_geometry.h"
#include "panel/spoken_names.h"
#include "relay_panel_win/click_label.h"
#include "relay_panel_win/dpi_scale.h"
#include "relay_panel_win/screen_reader_names.h"
#include "relay_panel_win/win_text.h"

namespace {
HWND child(HWND window, const wchar_t* kind, const wchar_t* text, DWORD style, int id) {
  return CreateWindowExW(0, kind, text, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, 0, 0, 0, 0,
                         window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleW(nullptr), nullptr);
}

HWND caption(HWND window, const wchar_t* text, int id) {
  return child(window, L"STATIC", text, SS_LEFT | SS_NOPREFIX, id);
}

HWND button(HWND window, const wchar_t* text, int id) {
  return child(window, L"BUTTON", text, WS_TABSTOP | BS_PUSHBUTTON, id);
}

void place(HWND control, const RECT& where, HFONT font) {
  SetWindowPos(control, nullptr, where.left, where.top, where.right - where.left,
               where.bottom - where.top, SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}
}  // namespace

// The Tab order: port box, port button, address box, "Open all", "Close all", address
// bar, port bar, then the indicators of relays 1 to 16. Each caption comes just before
// its box, which is how a screen reader finds a box's name; the name labels take no
// focus, and each comes after its indicator so that the box covers a name too long for
// its label.
WindowControls::WindowControls(HWND window)
    : port_caption(caption(window, L"Com num", port_caption_id)),
      port(window, port_box_id, port_bar_id),
      port_button(button(window, L"open com", port_button_id)),
      address_caption(caption(window, L"Address", address_caption_id)),
      address(window, address_box_id, address_bar_id),
      open_all_button(button(window, L"Open all", open_all_id)),
      close_all_button(button(window, L"Close all", close_all_id)),
      window_(window),
      tooltip_(CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                               WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP | TTS_NOFADE | TTS_NOANIMATE,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window,
                               nullptr, GetModuleHandleW(nullptr), nullptr)) {
  // The bars follow the bulk buttons in the Tab order; their boxes stay beside the
  // captions that name them.
  SetWindowPos(address.bar(), close_all_button, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SetWindowPos(port.bar(), address.bar(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  // Each box and spin bar says what it holds.
  set_spoken_name(port.box(), "Port number");
  set_spoken_name(port.bar(), "Port number arrows");
  set_spoken_name(address.box(), "Board address");
  set_spoken_name(address.bar(), "Board address arrows");

  for (int relay = 1; relay <= relay_count; ++relay) {
    indicators[relay - 1] =
        std::make_unique<IndicatorButton>(window, relay, first_indicator_id + relay);
    name_labels[relay - 1] = child(
        window, L"STATIC", L"", SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_NOTIFY, first_name_id + relay);
    take_clicks_as_buttons_do(name_labels[relay - 1]);
    show_name(relay, "relay " + std::to_string(relay));
    add_tip(name_labels[relay - 1]);
  }
  // Kept so that the window looks exactly as it always has; last, under everything.
  for (std::size_t i = 0; i < main_form_geometry.stray_labels.size(); ++i) {
    stray_labels.push_back(child(window, L"STATIC", L"Label1", SS_LEFT | SS_NOPREFIX, stray_id));
    hide_from_screen_readers(stray_labels.back());
  }
  SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 600);
  add_tip(port.box());
}

// The tooltip asks the window for its text each time it shows: the port's device is
// worked out afresh, and a name is shown whole.
void WindowControls::add_tip(HWND control) {
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = LPSTR_TEXTCALLBACKW;
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void WindowControls::lay_out(UINT dpi, const PanelFonts& fonts) {
  const auto& g = main_form_geometry;
  place(port_caption, scaled_rect(g.port_caption, dpi), fonts.caption());
  place(port.box(), scaled_rect(g.port_box, dpi), fonts.box());
  place(port.bar(), scaled_rect(g.port_bar, dpi), fonts.box());
  place(port_button, scaled_rect(g.port_button, dpi), fonts.caption());
  place(address_caption, scaled_rect(g.address_caption, dpi), fonts.caption());
  place(address.box(), scaled_rect(g.address_box, dpi), fonts.box());
  place(address.bar(), scaled_rect(g.address_bar, dpi), fonts.box());
  place(open_all_button, scaled_rect(g.open_all_button, dpi), fonts.caption());
  place(close_all_button, scaled_rect(g.close_all_button, dpi), fonts.caption());
  for (int relay = 1; relay <= relay_count; ++relay) {
    place(indicators[relay - 1]->handle(), scaled_rect(g.indicator(relay), dpi), fonts.label());
    place(name_labels[relay - 1], scaled_rect(g.name_label(relay), dpi), fonts.label());
  }
  for (std::size_t i = 0; i < stray_labels.size(); ++i) {
    place(stray_labels[i], scaled_rect(g.stray(g.stray_labels[i]), dpi), fonts.dialog());
  }
  SendMessageW(tooltip_, WM_SETFONT, reinterpret_cast<WPARAM>(fonts.dialog()), FALSE);
}

void WindowControls::show_name(int relay, const std::string& name) {
  name_tips_.at(relay - 1) = wide(name);
  set_window_text(name_labels.at(relay - 1), name_tips_[relay - 1]);
  set_spoken_name(name_labels[relay - 1], name_label_spoken_name(relay, name));
  indicators.at(relay - 1)->set_relay_name(name);
}

int WindowControls::indicator_relay(int id) {
  const int relay = id - first_indicator_id;
  return relay >= 1 && relay <= relay_count ? relay : 0;
}

int WindowControls::name_relay(int id) {
  const int relay = id - first_name_id;
  return relay >= 1 && relay <= relay_count ? relay : 0;
}
