#include "ui/spin_bar.h"

SpinBar::SpinBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {
  setRange(-Min, -Max);
  setSingleStep(1);
  setPageStep(1);
  setFocusPolicy(Qt::StrongFocus);
  connect(this, &QScrollBar::valueChanged, this, [this] { emit Change(); });
}
