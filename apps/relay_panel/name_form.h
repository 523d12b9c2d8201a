#pragma once

#include <QWidget>
#include <string>

#include "common/message_boxes.h"
#include "panel/panel_names.h"

class QLineEdit;
class QPushButton;

// The modeless rename dialog: shows the stored name of one relay at one address and
// stores the operator's new one, through the core's names (the name file, or the owner
// of a served line, whose answer the dialog waits for with OK disabled); the window hears of
// a stored name through name_stored. It is a plain window rather than a QDialog so that
// neither Enter nor Escape does anything behind the operator's back.
class name_form : public QWidget {
  Q_OBJECT

 public:
  name_form(PanelNames& names, MessageBoxes& messages);

  // Set by the main window before each show_or_raise: the address box's text and the clicked
  // relay's number.
  std::string& address_text() { return names_.rename().address_text; }
  std::string& relay_text() { return names_.rename().relay_text; }

  // Loads and shows the dialog; when it is already open, only brings it to the front
  // (the text box keeps what the operator typed).
  void show_or_raise();

  bool loaded() const { return loaded_; }

 signals:
  // A name was stored; the dialog closes after it.
  void name_stored();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // Fills the text box with the stored name (or the default text) and selects it.
  void load();
  void ok_clicked();
  void stored(const RenameOutcome& outcome);
  void cancel_clicked();

  MessageBoxes& messages_;
  PanelNames& names_;
  QLineEdit* name_box_;         // "mingcheng": the name being edited
  QPushButton* ok_button_;      // "Command_ok": stores the name
  QPushButton* cancel_button_;  // "Command_cansel": closes without storing
  bool loaded_ = false;
  bool waiting_ = false;  // for the answer to the latest OK
};
