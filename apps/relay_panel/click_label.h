#pragma once

#include <QLabel>

#include "relay_panel/click_gesture.h"

// A label that reports a left click on it, as the relay name labels do to start a
// rename.
class ClickLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  ClickGesture click_;
};
