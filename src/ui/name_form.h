#pragma once

#include <QWidget>
#include <string>

#include "common/message_boxes.h"
#include "names/rename_logic.h"

class QLineEdit;
class QPushButton;

// The modeless rename dialog: shows the stored name of one relay at one address and
// stores the operator's new one, through the core's rename logic; the window hears of
// a stored name through name_stored. It is a plain window rather than a QDialog so that
// neither Enter nor Escape does anything behind the operator's back.
class name_form : public QWidget {
  Q_OBJECT

 public:
  name_form(RenameLogic& logic, MessageBoxes& messages);

  // Set by the main window before each Show: the address text ("add", the address box
  // of the design) and the relay number ("xianlu", the line).
  std::string& add() { return logic_.add; }
  std::string& xianlu() { return logic_.xianlu; }

  // Loads and shows the dialog; when it is already open, only brings it to the front
  // (the text box keeps what the operator typed).
  void Show();

  bool loaded() const { return loaded_; }

 signals:
  // A name was stored; the dialog closes after it.
  void name_stored();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Form_Load();
  void Command_ok_Click();
  void Command_cansel_Click();  // spelt as in the design, like the button

  MessageBoxes& messages_;
  RenameLogic& logic_;
  QLineEdit* mingcheng_;         // the name ("mingcheng" in the design) being edited
  QPushButton* Command_ok_;      // stores the name
  QPushButton* Command_cansel_;  // closes without storing; the design spells it so
  bool loaded_ = false;
};
