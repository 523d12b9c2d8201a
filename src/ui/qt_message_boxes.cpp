#include "ui/qt_message_boxes.h"

#include <QApplication>
#include <QMessageBox>

namespace {
QMessageBox::Icon box_icon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::Critical:
      return QMessageBox::Critical;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}
}  // namespace

void QtMessageBoxes::show(const Message& message) {
  // An empty caption leaves the title to the desktop, which shows the program's name.
  QMessageBox box(box_icon(message.icon), QString::fromStdString(message.caption),
                  QString::fromStdString(message.text), QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}
