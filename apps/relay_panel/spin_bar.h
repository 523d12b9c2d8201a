#pragma once

#include <QScrollBar>

#include "common/board_limits.h"

// The small vertical spin bar beside a number box: a whole number from 0 to 255
// whose upper arrow raises it and lower arrow lowers it (255 at the top, 0 at the
// bottom), one step per press, saturating at the ends. Changing the value from code
// to the value it already holds raises nothing.
//
// A scroll bar counts upwards towards its bottom; holding the negated number keeps
// the arrows, the keys and the wheel all pointing the operator's way.
class SpinBar : public QScrollBar {
  Q_OBJECT

 public:
  explicit SpinBar(QWidget* parent);

  int number() const { return -value(); }
  void set_number(int n) { setValue(-n); }

  // The number at the upper arrow's end of the bar, and at the lower arrow's.
  static constexpr int top_number = highest_address;
  static constexpr int bottom_number = 0;

 signals:
  // The number changed, by the operator or from code.
  void number_changed();

 protected:
  void paintEvent(QPaintEvent* event) override;
};
