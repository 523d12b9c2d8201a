#pragma once

#include <QFrame>

#include "panel/indicator_state.h"
#include "relay_panel/click_gesture.h"

class QLabel;

// One relay's indicator: a sunken box that keeps the colour value it was painted
// with (the panel's only record of the relay's last reported state) and shows it,
// with its state label inside. The operator switches the relay by clicking
// the box or its label, or by Space while the box has the focus; F2, the context-menu
// key or Shift+F10 on a focused box asks to rename the relay, so the keyboard reaches
// the rename dialog without the name labels taking focus.
class IndicatorBox : public QFrame {
  Q_OBJECT

 public:
  IndicatorBox(int relay, QWidget* parent);

  void paint(IndicatorState state);
  Colour colour() const { return colour_; }
  QLabel* state_label() const { return state_label_; }

  // The relay's name as the name label shows it, for the name a screen reader reads.
  void set_relay_name(const QString& name);

  // What a click, and a rename key, do; for a screen reader's actions.
  void press() { emit clicked(); }
  void request_rename() { emit rename_requested(); }

 signals:
  void clicked();
  void label_clicked();
  void rename_requested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void update_accessible_name();

  int relay_;
  Colour colour_ = colour_yellow;
  QString relay_name_;
  QLabel* state_label_;  // the state caption: "opened", "closed", "unknown"
  ClickGesture click_;
};
