#include "relay_panel/main_form_controls.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <chrono>

#include "loop/poll_timer.h"
#include "panel/poll_cycle.h"
#include "panel/spoken_names.h"
#include "relay_panel/accessibility.h"
#include "relay_panel/byte_text_validator.h"
#include "relay_panel/click_label.h"
#include "relay_panel/form_geometry.h"
#include "relay_panel/indicator_box.h"
#include "relay_panel/panel_font.h"
#include "relay_panel/plain_text.h"
#include "relay_panel/spin_bar.h"

namespace {
constexpr double caption_points = 15.75;
constexpr double box_points = 15;
// A caption starts at the top of its label, so a name stands level with the state
// caption in the box beside it (the name label is placed lower by just that much).
constexpr Qt::Alignment label_alignment = Qt::AlignLeft | Qt::AlignTop;

template <typename Widget>
Widget* place(QWidget& form, const char* name, Twips where) {
  auto* widget = new Widget(&form);
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(to_pixels(where));
  return widget;
}

// Captions and boxes take their colours from the desktop's palette (black on the light
// 3D face of the light scheme); only the indicators keep fixed colours.
QLabel* caption_label(QWidget& form, const char* name, Twips where, const char* text) {
  auto* label = place<QLabel>(form, name, where);
  label->setText(QString::fromLatin1(text));
  label->setFont(panel_font(caption_points));
  label->setAlignment(label_alignment);
  return label;
}

QLineEdit* number_box(QWidget& form, const char* name, Twips where, const QString& spoken) {
  auto* box = place<QLineEdit>(form, name, where);
  box->setFont(panel_font(box_points));
  box->setText(QStringLiteral("1"));
  box->setValidator(new ByteTextValidator(box));
  box->setAccessibleName(spoken);
  return box;
}

SpinBar* spin_bar(QWidget& form, const char* name, Twips where, const QString& spoken) {
  auto* bar = place<SpinBar>(form, name, where);
  bar->set_number(1);
  bar->setAccessibleName(spoken);
  return bar;
}

QPushButton* button(QWidget& form, const char* name, Twips where, const char* text) {
  auto* push = place<QPushButton>(form, name, where);
  push->setText(QString::fromLatin1(text));
  push->setFont(panel_font(caption_points));
  push->setAutoDefault(false);
  return push;
}
}  // namespace

MainFormControls::MainFormControls(QWidget& form) {
  const auto& g = main_form_geometry;
  install_panel_accessibility();

  // Tiny labels in the window's own colours that nothing reads; they stay so that the
  // window looks exactly as it always has.
  for (const StrayLabel& stray : g.stray_labels) {
    auto* label = new QLabel(QStringLiteral("Label1"), &form);
    label->setObjectName(QStringLiteral("Label1_%1").arg(stray.index));
    label->setGeometry(to_pixels(g.stray(stray)));
    hide_from_screen_readers(*label);
  }

  // Each box and spin bar says what it holds; the captions name their boxes.
  port_caption = caption_label(form, "Label3", g.port_caption, "Com num");
  port_box = number_box(form, "chuankou_num", g.port_box, QStringLiteral("Port number"));
  port_bar = spin_bar(form, "VScroll2", g.port_bar, QStringLiteral("Port number arrows"));
  port_button = button(form, "open_comm", g.port_button, "open com");
  address_caption = caption_label(form, "Label5", g.address_caption, "Address");
  address_box = number_box(form, "add", g.address_box, QStringLiteral("Board address"));
  address_bar = spin_bar(form, "VScroll1", g.address_bar, QStringLiteral("Board address arrows"));
  port_caption->setBuddy(port_box);
  address_caption->setBuddy(address_box);

  for (int relay = 1; relay <= relay_count; ++relay) {
    // The name first, so that its box covers a name too long for its label.
    auto* name = new ClickLabel(QStringLiteral("relay %1").arg(relay), &form);
    name->setObjectName(QStringLiteral("Label4_%1").arg(relay));
    name->setGeometry(to_pixels(g.name_label(relay)));
    name->setFont(caption_font());
    name->setAlignment(label_alignment);
    // A stored name is shown as typed, never read as markup.
    name->setTextFormat(Qt::PlainText);
    name_labels[relay - 1] = name;

    auto* box = new IndicatorBox(relay, &form);
    box->setGeometry(to_pixels(g.indicator(relay)));
    indicators[relay - 1] = box;
    // A rename key on the box does what a click on the name does.
    QObject::connect(box, &IndicatorBox::rename_requested, name, &ClickLabel::clicked);
    show_name(relay, name->text());
  }

  open_all_button = button(form, "openall", g.open_all_button, "Open all");
  close_all_button = button(form, "closeall", g.close_all_button, "Close all");

  // The poll runs from creation on, before any port is open; its frames are dropped
  // until one is.
  poll_timer = new PollTimer(PollCycle::period, &form);
  poll_timer->setObjectName(QStringLiteral("Timer1"));
  poll_timer->start();

  set_focus_order();
  port_box->setFocus();
}

// A name longer than its label is covered by the indicator box beside it: the tooltip
// shows it whole.
void MainFormControls::show_name(int relay, const QString& name) {
  ClickLabel* label = name_labels.at(relay - 1);
  label->setText(name);
  label->setToolTip(plain_tooltip(name));
  label->setAccessibleName(
      QString::fromStdString(name_label_spoken_name(relay, name.toStdString())));
  indicators.at(relay - 1)->set_relay_name(name);
}

void MainFormControls::set_focus_order() {
  QWidget* previous = port_box;
  auto next = [&previous](QWidget* widget) {
    QWidget::setTabOrder(previous, widget);
    previous = widget;
  };
  next(port_button);
  next(address_box);
  next(open_all_button);
  next(close_all_button);
  next(address_bar);
  next(port_bar);
  for (IndicatorBox* box : indicators) next(box);
}
