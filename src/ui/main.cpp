#include <QApplication>
#include <cstdio>
#include <optional>
#include <variant>

#include "link_qt/qt_serial_port.h"
#include "names/state_folder.h"
#include "ui/main_form.h"
#include "ui/panel_command_line.h"
#include "ui/qt_message_boxes.h"

namespace {

void name_the_application() {
  // The window class (WM_CLASS) that the launcher entry's StartupWMClass names.
  QCoreApplication::setApplicationName(QStringLiteral("relay_panel"));
  QCoreApplication::setApplicationVersion(QStringLiteral(RELAY_PANEL_VERSION));
}

}  // namespace

int main(int argc, char* argv[]) {
  // --help and --version answer without a display, so the command line is read before
  // the window system is reached.
  std::optional<std::filesystem::path> names_option;
  {
    QCoreApplication reading(argc, argv);
    name_the_application();
    const auto command_line = read_panel_command_line(QCoreApplication::arguments());
    if (const auto* done = std::get_if<PanelCommandLineExit>(&command_line)) {
      std::fputs(done->text.c_str(), done->to_standard_error ? stderr : stdout);
      return done->status;
    }
    names_option = std::get<PanelOptions>(command_line).names;
  }

  QApplication app(argc, argv);
  name_the_application();
  // Lets the desktop match the window with its launcher entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.relaypanel.RelayPanel"));
  const std::filesystem::path program_dir(QCoreApplication::applicationDirPath().toStdU16String());

  QtMessageBoxes messages;
  // name.txt and the com<n> links: beside the program, or per user where the program's
  // folder cannot be written.
  const StateFolder state = settle_state_folder(program_dir, names_option, messages);
  QtSerialPort port(state.folder);
  main_form form(state.name_file, state.folder, messages, port);
  form.Form_Initialize();
  form.show();
  return app.exec();
}
