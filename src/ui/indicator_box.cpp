#include "ui/indicator_box.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include "ui/form_geometry.h"
#include "ui/panel_colour.h"
#include "ui/panel_font.h"

namespace {
constexpr int border_width = 2;
}

IndicatorBox::IndicatorBox(int relay, QWidget* parent)
    : QFrame(parent), relay_(relay), Label2_(new QLabel(this)) {
  setObjectName(QStringLiteral("Picture1_%1").arg(relay));
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(border_width);
  setFocusPolicy(Qt::StrongFocus);

  // The label stands inside the box's client area, within the border; it lets the
  // box's colour show through and leaves its clicks to the box.
  Label2_->setObjectName(QStringLiteral("Label2_%1").arg(relay));
  Label2_->setGeometry(to_pixels(main_form_geometry.Label2).translated(border_width, border_width));
  Label2_->setFont(panel_font(15));
  Label2_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label2_->setAttribute(Qt::WA_TransparentForMouseEvents);
  Label2_->setText(QString::fromUtf8(indicator_caption(IndicatorState::Unknown)));
  update_accessible_name();
}

// The board reports every 50 ms and mostly repeats itself: only a real change costs
// a repaint.
void IndicatorBox::paint(IndicatorState state) {
  const Colour colour = indicator_colour(state);
  if (colour != colour_) {
    colour_ = colour;
    update();
  }
  const QString caption = QString::fromUtf8(indicator_caption(state));
  if (caption != Label2_->text()) {
    Label2_->setText(caption);
    update_accessible_name();
  }
}

void IndicatorBox::update_accessible_name() {
  setAccessibleName(QStringLiteral("Relay %1: %2").arg(relay_).arg(Label2_->text().trimmed()));
}

void IndicatorBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(contentsRect(), panel_colour(colour_, palette()));
  drawFrame(&painter);
  if (hasFocus()) {
    QPen pen(palette().color(QPalette::Highlight));
    pen.setStyle(Qt::DotLine);
    painter.setPen(pen);
    painter.drawRect(contentsRect().adjusted(1, 1, -2, -2));
  }
}

void IndicatorBox::mousePressEvent(QMouseEvent* event) {
  click_.press(*event);
  QFrame::mousePressEvent(event);
}

void IndicatorBox::mouseReleaseEvent(QMouseEvent* event) {
  if (!click_.release(*event, rect())) {
    QFrame::mouseReleaseEvent(event);
    return;
  }
  if (Label2_->geometry().contains(event->position().toPoint())) {
    emit label_clicked();
  } else {
    emit clicked();
  }
}

void IndicatorBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
    emit clicked();
    return;
  }
  QFrame::keyPressEvent(event);
}
