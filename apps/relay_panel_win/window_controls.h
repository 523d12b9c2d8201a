#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "common/board_limits.h"
#include "relay_panel_win/indicator_button.h"
#include "relay_panel_win/number_box.h"
#include "relay_panel_win/panel_fonts.h"

// The controls of the main window, created as children of the window in the order
// that gives the keyboard's Tab order and lets a screen reader name each box by the
// caption before it; placed from the form geometry and given their fonts at the
// window's DPI, again whenever that changes. The window wires their events to the core.
class WindowControls {
 public:
  // Control ids, by which WM_COMMAND and WM_DRAWITEM name the control.
  enum Id : int {
    port_caption_id = 100,
    port_box_id,
    port_bar_id,
    port_button_id,
    address_caption_id,
    address_box_id,
    address_bar_id,
    open_all_id,
    close_all_id,
    stray_id,
    first_indicator_id = 200,
    first_name_id = 300,
  };

  explicit WindowControls(HWND window);

  // Places every control and hands it its font, for `dpi`.
  void lay_out(UINT dpi, const PanelFonts& fonts);

  // Relay n's name in its label, its indicator's spoken name and its tooltip.
  void show_name(int relay, const std::string& name);
  const std::wstring& name_tip(int relay) const { return name_tips_.at(relay - 1); }

  // Relay 1..16 for an indicator or name label id, else 0.
  static int indicator_relay(int id);
  static int name_relay(int id);

  HWND tooltip() const { return tooltip_; }

  HWND port_caption;      // "Com num"
  NumberBox port;         // the port number and its spin bar
  HWND port_button;       // "open com" / "close com"
  HWND address_caption;   // "Address"
  NumberBox address;      // the board address and its spin bar
  HWND open_all_button;   // opens all 16 relays
  HWND close_all_button;  // closes all 16 relays
  std::array<std::unique_ptr<IndicatorButton>, relay_count> indicators;
  std::array<HWND, relay_count> name_labels{};  // a click renames the relay
  std::vector<HWND> stray_labels;               // tiny labels that nothing reads

 private:
  void add_tip(HWND control);

  HWND window_;
  HWND tooltip_;
  std::array<std::wstring, relay_count> name_tips_;
};
