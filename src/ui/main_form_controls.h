#pragma once

#include <array>

#include "link/indicator_state.h"

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
// with their captions, fonts, colours, object names and focus order, in the state
// the operator first sees. Only the layout lives here; the form wires the events.
class MainFormControls {
 public:
  explicit MainFormControls(QWidget& form);

  // Shows relay n's name in its label, and gives it to the screen reader's name of the
  // label and of the relay's indicator.
  void show_name(int relay, const QString& name);

  // Named as in the window's design, so that the code and the design match by search.
  QLabel* Label3;                                   // the caption "Com num"
  QLineEdit* chuankou_num;                          // the serial port number ("chuankou")
  SpinBar* VScroll2;                                // steps the port number
  QPushButton* open_comm;                           // "open com" / "close com"
  QLabel* Label5;                                   // the caption "Address"
  QLineEdit* add;                                   // the board address, 0 to 255
  SpinBar* VScroll1;                                // steps the address
  std::array<IndicatorBox*, relay_count> Picture1;  // relay n's state box, at index n - 1
  std::array<ClickLabel*, relay_count> Label4;      // relay n's name; a click renames it
  QPushButton* openall;                             // opens all 16 relays
  QPushButton* closeall;                            // closes all 16 relays
  PollTimer* Timer1;                                // the 50 ms poll of the board

 private:
  void set_focus_order();
};
