#include "relay_panel/qt_message_boxes.h"

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
  // A message without a caption of its own carries the program's name.
  const QString caption = message.caption.empty() ? QApplication::applicationDisplayName()
                                                  : QString::fromStdString(message.caption);
  QMessageBox box(box_icon(message.icon), caption, QString::fromStdString(message.text),
                  QMessageBox::Ok, QApplication::activeWindow());
  // Paths and system messages are shown as they are, never read as markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}
