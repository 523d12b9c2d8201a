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

// The controls of the main window, created as children of the form at their places
// with their captions, fonts, colours, object names and focus order, in the state
// the operator first sees. Only the layout lives here; the form wires the events.
class MainFormControls {
 public:
  explicit MainFormControls(QWidget& form);

  QLabel* Label3;
  QLineEdit* chuankou_num;
  SpinBar* VScroll2;
  QPushButton* open_comm;
  QLabel* Label5;
  QLineEdit* add;
  SpinBar* VScroll1;
  std::array<IndicatorBox*, relay_count> Picture1;  // relay n at index n - 1
  std::array<ClickLabel*, relay_count> Label4;
  QPushButton* openall;
  QPushButton* closeall;
  PollTimer* Timer1;

 private:
  void set_focus_order();
};
