#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "common/message_boxes.h"
#include "panel/panel_names.h"
#include "relay_panel_win/panel_fonts.h"

// The modeless rename dialog: shows the stored name of one relay at one address and
// stores the operator's new one through the panel's names (the name file's, or the owner
// of a served line, whose answer the dialog waits for with OK disabled); `name_stored`
// tells the main window. Neither Enter nor Escape does anything behind the operator's back.
class RenameDialog {
 public:
  RenameDialog(PanelNames& names, MessageBoxes& messages, std::function<void()> name_stored);
  ~RenameDialog();
  RenameDialog(const RenameDialog&) = delete;
  RenameDialog& operator=(const RenameDialog&) = delete;

  // Set by the main window before each show_or_raise: the address box's text and the
  // clicked relay's number.
  std::string& address_text() { return names_.rename().address_text; }
  std::string& relay_text() { return names_.rename().relay_text; }

  // Loads and shows the dialog; when it is already open, only brings it to the front
  // (the text box keeps what the operator typed).
  void show_or_raise();
  void close();

  bool loaded() const { return loaded_; }
  HWND handle() const { return window_; }

  // The keyboard's way round the dialog's controls, while it is open.
  bool handles(MSG& message);

 private:
  enum Id : int { name_box_id = 10, ok_id, cancel_id };

  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
  void lay_out();
  // Fills the text box with the stored name (or the initial text) and selects it.
  void load();
  void ok_clicked();
  void stored(const RenameOutcome& outcome);

  PanelNames& names_;
  MessageBoxes& messages_;
  std::function<void()> name_stored_;
  HWND window_;
  HWND name_box_;
  HWND ok_button_;
  HWND cancel_button_;
  HWND focus_ = nullptr;  // the control that had the focus when the dialog lost it
  UINT dpi_ = 96;
  std::unique_ptr<PanelFonts> fonts_;
  bool loaded_ = false;
  bool sized_ = false;    // placed by the system at its first showing, sized from then on
  bool waiting_ = false;  // for the owner's answer to a rename
  // An answer that comes after the dialog is gone finds no one to tell.
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};
