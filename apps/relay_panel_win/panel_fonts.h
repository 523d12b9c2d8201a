#pragma once

#include <windows.h>

#include <string>

// The window's fonts at one DPI. The panel's face is SimSun where the system has it,
// else another face with the Chinese glyphs, else the system's message font; the state
// captions and names are shrunk from 15 points until the widest of them fits its label,
// so "unknown" is never cut short. Made anew for each DPI the window meets.
class PanelFonts {
 public:
  explicit PanelFonts(UINT dpi);
  ~PanelFonts();
  PanelFonts(const PanelFonts&) = delete;
  PanelFonts& operator=(const PanelFonts&) = delete;

  HFONT caption() const { return caption_; }    // captions and buttons, 15.75 points
  HFONT box() const { return box_; }            // the number boxes, 15 points
  HFONT label() const { return label_; }        // state captions and names
  HFONT name_box() const { return name_box_; }  // the rename dialog's text box, 24 points
  HFONT dialog() const { return dialog_; }      // the message font's size, the panel's face

 private:
  HFONT caption_;
  HFONT box_;
  HFONT label_;
  HFONT name_box_;
  HFONT dialog_;
};

// The face the panel draws its text in (chosen once).
const std::wstring& panel_face();
