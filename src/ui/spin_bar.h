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

  int Value() const { return -value(); }
  void set_Value(int number) { setValue(-number); }

  // Inverted on purpose, as in the design: Min is the value at the top of the bar
  // (the upper arrow's end), Max the one at the bottom.
  static constexpr int Min = highest_address;
  static constexpr int Max = 0;

 signals:
  void Change();

 protected:
  void paintEvent(QPaintEvent* event) override;
};
