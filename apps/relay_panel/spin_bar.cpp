#include "relay_panel/spin_bar.h"

#include <QPainter>

#include "relay_panel/accessibility.h"

SpinBar::SpinBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {
  setRange(-top_number, -bottom_number);
  setSingleStep(1);
  setPageStep(1);
  setFocusPolicy(Qt::StrongFocus);
  // A scroll bar's "Scroll here / Top / Bottom" menu means nothing on a spin bar.
  setContextMenuPolicy(Qt::NoContextMenu);
  connect(this, &QScrollBar::valueChanged, this, [this] {
    emit number_changed();
    announce_value_change(*this, number());
  });
}

// Scroll bars draw no focus mark of their own, yet the spin bars take the keyboard
// focus in the window's tab order: show where it is.
void SpinBar::paintEvent(QPaintEvent* event) {
  QScrollBar::paintEvent(event);
  if (!hasFocus()) return;
  QPainter painter(this);
  QPen pen(palette().color(QPalette::Highlight));
  pen.setStyle(Qt::DotLine);
  painter.setPen(pen);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
