#include "ui/click_label.h"

#include <QMouseEvent>

void ClickLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) pressed_ = true;
  QLabel::mousePressEvent(event);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool was_pressed = pressed_;
  pressed_ = false;
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && was_pressed &&
      rect().contains(event->position().toPoint())) {
    emit clicked();
  }
}
