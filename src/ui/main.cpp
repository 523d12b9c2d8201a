#include <QApplication>

#include "link_qt/qt_serial_port.h"
#include "ui/main_form.h"
#include "ui/qt_message_boxes.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  // Lets the desktop match the window with its launcher entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.relaypanel.RelayPanel"));
  // name.txt and the com<n> links live beside the program.
  const std::filesystem::path program_dir(QCoreApplication::applicationDirPath().toStdU16String());

  QtMessageBoxes messages;
  QtSerialPort port(program_dir);
  main_form form(program_dir, messages, port);
  form.Form_Initialize();
  form.show();
  return app.exec();
}
