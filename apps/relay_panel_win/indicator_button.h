#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "panel/indicator_state.h"

// One relay's indicator: an owner-drawn button that keeps the colour value it was
// painted with (the panel's only record of the relay's last reported state) and draws
// it as its background, with the state caption inside a sunken border. Being a button
// it takes the focus and Space clicks it; its window text is what a screen reader says
// ("Relay 5, Pump room: opened"). F2, the context-menu key or Shift+F10 asks to rename
// the relay.
class IndicatorButton {
 public:
  IndicatorButton(HWND parent, int relay, int control_id);

  HWND handle() const { return button_; }
  int relay() const { return relay_; }

  void paint(IndicatorState state);
  Colour colour() const { return colour_; }
  const std::string& caption() const { return caption_; }

  // The relay's name as its label shows it, for the name a screen reader reads.
  void set_relay_name(const std::string& name);

  // The parent hands over its WM_DRAWITEM for this button.
  void draw(const DRAWITEMSTRUCT& item, HFONT caption_font, UINT dpi) const;

  // Whether a click at this point of the parent's client area fell on the state caption.
  bool on_caption(POINT client_point, UINT dpi) const;

  std::function<void()> on_rename;

 private:
  static LRESULT CALLBACK key_filter(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                     UINT_PTR, DWORD_PTR self);
  void update_spoken_name();

  HWND button_;
  int relay_;
  Colour colour_ = colour_yellow;
  std::string caption_;
  std::string relay_name_;
  WPARAM menu_key_ = 0;  // a menu key pressed on the box, which renames as it comes up
};

// The colour a box holds as the screen shows it: a system colour is looked up.
COLORREF screen_colour(Colour colour);
