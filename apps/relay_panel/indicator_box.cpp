#include "relay_panel/indicator_box.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include "panel/spoken_names.h"
#include "relay_panel/accessibility.h"
#include "relay_panel/form_geometry.h"
#include "relay_panel/panel_colour.h"
#include "relay_panel/panel_font.h"

namespace {
constexpr int border_width = 2;

bool is_rename_key(const QKeyEvent& event) {
  const Qt::KeyboardModifiers modifiers =
      event.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  if (event.key() == Qt::Key_F10) return modifiers == Qt::ShiftModifier;
  return (event.key() == Qt::Key_F2 || event.key() == Qt::Key_Menu) && modifiers == Qt::NoModifier;
}
}  // namespace

IndicatorBox::IndicatorBox(int relay, QWidget* parent)
    : QFrame(parent), relay_(relay), state_label_(new QLabel(this)) {
  setObjectName(QStringLiteral("Picture1_%1").arg(relay));
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(border_width);
  setFocusPolicy(Qt::StrongFocus);

  // The label stands inside the box's client area, within the border; it lets the
  // box's colour show through and leaves its clicks to the box.
  state_label_->setObjectName(QStringLiteral("state_label_%1").arg(relay));
  state_label_->setGeometry(
      to_pixels(main_form_geometry.state_caption).translated(border_width, border_width));
  state_label_->setFont(caption_font());
  state_label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  state_label_->setAttribute(Qt::WA_TransparentForMouseEvents);
  // The caption stands on the board's colours, not on the desktop's: black on every
  // one of them, whatever the theme makes of the window's text.
  QPalette caption_palette = state_label_->palette();
  caption_palette.setColor(QPalette::WindowText, indicator_caption_colour);
  state_label_->setPalette(caption_palette);
  // The box's own name says the state.
  hide_from_screen_readers(*state_label_);
  state_label_->setText(QString::fromUtf8(indicator_caption(IndicatorState::Unknown)));
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
  if (caption != state_label_->text()) {
    state_label_->setText(caption);
    update_accessible_name();
  }
}

void IndicatorBox::set_relay_name(const QString& name) {
  if (name == relay_name_) return;
  relay_name_ = name;
  update_accessible_name();
}

// "Relay 5, Pump room: opened"; a relay without a name is "Relay 5: opened". The name
// is plain text to a screen reader, whatever it looks like. A screen reader that is on
// the box hears the new state as it comes.
void IndicatorBox::update_accessible_name() {
  const QString spoken = QString::fromStdString(indicator_spoken_name(
      relay_, relay_name_.simplified().toStdString(), state_label_->text().toStdString()));
  if (spoken == accessibleName()) return;
  setAccessibleName(spoken);
  if (hasFocus()) announce_name_change(*this);
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
  if (state_label_->geometry().contains(event->position().toPoint())) {
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
  if (is_rename_key(*event)) {
    if (!event->isAutoRepeat()) emit rename_requested();
    return;
  }
  QFrame::keyPressEvent(event);
}

// Desktops that turn the context-menu key into a menu request send that instead of
// (or as well as) the key; opening the dialog again only brings it to the front.
void IndicatorBox::contextMenuEvent(QContextMenuEvent* event) {
  if (event->reason() != QContextMenuEvent::Keyboard) {
    QFrame::contextMenuEvent(event);
    return;
  }
  emit rename_requested();
}
