#include "relay_panel/name_form.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "panel/spoken_names.h"
#include "relay_panel/form_geometry.h"
#include "relay_panel/panel_font.h"

namespace {
const QString initial_text = QStringLiteral("Text1");

QPushButton* dialog_button(QWidget& form, const char* name, Twips where, const QString& text) {
  auto* button = new QPushButton(text, &form);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(to_pixels(where));
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}
}  // namespace

name_form::name_form(PanelNames& names, MessageBoxes& messages)
    : QWidget(nullptr, Qt::Window),
      messages_(messages),
      names_(names),
      name_box_(new QLineEdit(initial_text, this)),
      ok_button_(dialog_button(*this, "Command_ok", name_form_geometry.ok_button,
                               QStringLiteral("确 定"))),
      cancel_button_(dialog_button(*this, "Command_cansel", name_form_geometry.cancel_button,
                                   QStringLiteral("取 消"))) {
  setObjectName(QStringLiteral("name_form"));
  setWindowTitle(QStringLiteral("更改名称"));
  resize(client_size(name_form_geometry.client()));

  name_box_->setObjectName(QStringLiteral("mingcheng"));
  name_box_->setGeometry(to_pixels(name_form_geometry.name_box));
  name_box_->setFont(panel_font(24));

  setTabOrder(name_box_, ok_button_);
  setTabOrder(ok_button_, cancel_button_);

  connect(ok_button_, &QPushButton::clicked, this, &name_form::ok_clicked);
  connect(cancel_button_, &QPushButton::clicked, this, &name_form::cancel_clicked);
}

void name_form::show_or_raise() {
  // The box has no caption: a screen reader says whose name it holds, for the latest
  // relay asked for, which is the one OK stores it under.
  name_box_->setAccessibleName(
      QString::fromStdString(rename_box_spoken_name(relay_text(), address_text())));
  if (!loaded_) {
    load();
    loaded_ = true;
    show();
  }
  setWindowState(windowState() & ~Qt::WindowMinimized);
  raise();
  activateWindow();
}

// Every load starts from the box's initial text: a stored name replaces "Text1" only when
// the address and relay are in range.
void name_form::load() {
  name_box_->setText(initial_text);
  const StoredName stored = names_.stored_name();
  if (stored.error) messages_.show(*stored.error);
  if (stored.name) name_box_->setText(QString::fromStdString(*stored.name));
  // The old name is selected, so that typing replaces it; selected from its end back,
  // the caret stays at its start and a name wider than the box shows from its first
  // character.
  const auto length = static_cast<int>(name_box_->text().size());
  name_box_->setSelection(length, -length);
  name_box_->setFocus();
}

// A name that was not stored stays in the box (the operator has been told why), so
// that it can be mended or the write tried again.
void name_form::ok_clicked() {
  waiting_ = true;
  names_.store(name_box_->text().toStdString(),
               [form = QPointer<name_form>(this)](const RenameOutcome& outcome) {
                 if (form) form->stored(outcome);
               });
  // The owner of a served line answers later: one rename in flight at a time.
  if (waiting_) ok_button_->setEnabled(false);
}

void name_form::stored(const RenameOutcome& outcome) {
  waiting_ = false;
  ok_button_->setEnabled(true);
  if (outcome.error) messages_.show(*outcome.error);
  if (!outcome.stored) return;
  emit name_stored();
  close();
}

void name_form::cancel_clicked() {
  close();
}

void name_form::closeEvent(QCloseEvent* event) {
  loaded_ = false;
  event->accept();
}
