#pragma once

#include <QMouseEvent>
#include <QRect>
#include <utility>

// A click as a button takes it: the left button pressed and then released over the
// widget. Sliding off before letting go is no click, so it switches or renames nothing.
class ClickGesture {
 public:
  void press(const QMouseEvent& event) {
    if (event.button() == Qt::LeftButton) pressed_ = true;
  }
  // Whether this release completes a click inside `area`.
  bool release(const QMouseEvent& event, const QRect& area) {
    const bool was_pressed = std::exchange(pressed_, false);
    return was_pressed && event.button() == Qt::LeftButton &&
           area.contains(event.position().toPoint());
  }

 private:
  bool pressed_ = false;
};
