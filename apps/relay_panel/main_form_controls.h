#pragma once

#include <array>

#include "panel/indicator_state.h"

class QWidget;
class QLabel;
class QLineEdit;
class QPushButton;
class PollTimer;
class ClickLabel;
class IndicatorBox;
class SpinBar;
class QString;

// The controls of the main window, created as children of the form at their places
// with their captions, fonts, colours, object names, screen-reader names and focus
// order, in the state the operator first sees; the poll timer starts here. The form
// wires the events to the core; only a box's rename key is wired here, to its name.
class MainFormControls {
 public:
  explicit MainFormControls(QWidget& form);

  // Shows relay n's name in its label, and gives it to the screen reader's name of the
  // label and of the relay's indicator.
  void show_name(int relay, const QString& name);

  // Each control with its Qt object name, by which the tests find it (see
  // docs/glossary.md), and its role.
  QLabel* port_caption;                               // "Label3": the caption "Com num"
  QLineEdit* port_box;                                // "chuankou_num": the port number
  SpinBar* port_bar;                                  // "VScroll2": steps the port number
  QPushButton* port_button;                           // "open_comm": "open com" / "close com"
  QLabel* address_caption;                            // "Label5": the caption "Address"
  QLineEdit* address_box;                             // "add": the board address, 0 to 255
  SpinBar* address_bar;                               // "VScroll1": steps the address
  std::array<IndicatorBox*, relay_count> indicators;  // "Picture1_n": relay n's state box
  std::array<ClickLabel*, relay_count> name_labels;   // "Label4_n": relay n's name; a click renames
  QPushButton* open_all_button;                       // "openall": opens all 16 relays
  QPushButton* close_all_button;                      // "closeall": closes all 16 relays
  PollTimer* poll_timer;                              // "Timer1": the 50 ms poll of the board

 private:
  void set_focus_order();
};
