#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <optional>
#include <variant>

#include "event_log/event_log.h"
#include "loop/qt_descriptor_loop.h"
#include "loop/qt_event_wait.h"
#include "loop/qt_stop_signals.h"
#include "mqtt/served_line_port.h"
#include "names/state_folder.h"
#include "panel/line_choice_port.h"
#include "panel/scripted_run.h"
#include "relay_panel/main_form.h"
#include "relay_panel/panel_command_line.h"
#include "relay_panel/qt_message_boxes.h"
#include "serial/posix_serial_port.h"

namespace {

// For scripted and headless runs (the package's own test, start-up timing): with
// RELAY_PANEL_MESSAGES=stderr every message goes to standard error as one line,
// "<caption>: <text>" (or the text alone), instead of a box that waits for a click, and a last line
// "shown: <title>" says that the window is up.
class StandardErrorMessages : public MessageBoxes {
 public:
  void show(const Message& message) override { std::fputs(message_line(message).c_str(), stderr); }
};

bool messages_to_standard_error() {
  return qEnvironmentVariable(messages_variable) == QLatin1String(messages_to_standard_error_value);
}

// For scripted runs too: RELAY_PANEL_OPEN_PORT=N puts N in the port box and presses
// "open com" once the window is up, as an operator would.
void open_port_when_asked(QWidget& form) {
  const QString number = qEnvironmentVariable(open_port_variable);
  if (number.isEmpty()) return;
  form.findChild<QLineEdit*>(QStringLiteral("chuankou_num"))->setText(number);
  form.findChild<QPushButton*>(QStringLiteral("open_comm"))->click();
}

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
  bool verbose = false;
  {
    QCoreApplication reading(argc, argv);
    name_the_application();
    const auto command_line = read_panel_command_line(QCoreApplication::arguments());
    if (const auto* done = std::get_if<PanelCommandLineExit>(&command_line)) {
      std::fputs(done->text.c_str(), done->to_standard_error ? stderr : stdout);
      return done->status;
    }
    const auto environment = [](const char* name) { return qEnvironmentVariable(name); };
    const QString runtime = environment("XDG_RUNTIME_DIR");
    const DisplayEnvironment display{
        environment("QT_QPA_PLATFORM"), environment("DISPLAY"), environment("WAYLAND_DISPLAY"),
        !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/wayland-0"))};
    if (const auto missing = missing_display(QCoreApplication::arguments(), display)) {
      std::fputs(missing->c_str(), stderr);
      return 1;
    }
    names_option = std::get<PanelOptions>(command_line).names;
    verbose = std::get<PanelOptions>(command_line).verbose;
  }

  QApplication app(argc, argv);
  name_the_application();
  // A stop signal closes every window as a click would (a rename dialog without
  // writing); the port and its lock are released on the way out.
  call_on_stop_signals(app, [] {
    QApplication::closeAllWindows();
    QCoreApplication::quit();
  });
  // Lets the desktop match the window with its launcher entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.relaypanel.RelayPanel"));
  const std::filesystem::path program_dir(QCoreApplication::applicationDirPath().toStdU16String());

  const bool scripted = messages_to_standard_error();
  std::unique_ptr<MessageBoxes> message_boxes;
  if (scripted) {
    message_boxes = std::make_unique<StandardErrorMessages>();
  } else {
    message_boxes = std::make_unique<QtMessageBoxes>();
  }
  MessageBoxes& messages = *message_boxes;
  // name.txt and the com<n> links: beside the program, or per user where the program's
  // folder cannot be written.
  const StateFolder state = settle_state_folder(program_dir, names_option, messages);
  if (verbose && !state.name_file.empty()) {
    std::fputs(("relay_panel: names in " + state.name_file.string() + "\n").c_str(), stderr);
  }
  // A number that lines.conf beside the com<n> links maps opens the line a bridge serves.
  PosixSerialPort serial(state.folder, QtDescriptorLoop::program());
  ServedLinePort served;
  LineChoicePort port(serial, served, state.folder);
  // The panel owns the serial lines it opens (a served line is its bridge's): their
  // boards' on_start and on_stop states hold.
  QtEventWait release_wait;
  main_form form(state.name_file, state.folder, messages, port);
  form.core().own_lines(release_wait, [&port] { return !port.owns_names(); });
  form.use_line_owner(port, port);
  // The open waits up to 5 s for the broker without taking the operator's input.
  served.on_waiting = [](bool waiting) {
    if (waiting) {
      QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
      QGuiApplication::restoreOverrideCursor();
    }
  };
  // Who switched what: the state folder's event log, beside the name file. Without it
  // the panel works as ever; the reason goes to standard error.
  std::unique_ptr<EventLog> event_log;
  std::unique_ptr<EventLogSink> event_sink;
  if (!state.folder.empty()) {
    const auto warn = [](const std::string& why) {
      std::fputs(("relay_panel: " + why + "\n").c_str(), stderr);
    };
    event_log = open_panel_event_log(state.folder, warn);
    if (event_log) {
      event_sink = std::make_unique<EventLogSink>(*event_log, warn);
      const char* user = std::getenv("USER");
      form.core().set_event_sink(*event_sink, {"panel", user ? user : "", ""});
    }
  }
  form.set_up();
  form.show();
  if (scripted) {
    QTimer::singleShot(0, &form, [&form] {
      const std::string line = shown_line(form.windowTitle().toStdString());
      std::fputs(line.c_str(), stderr);
      std::fflush(stderr);
    });
  }
  QTimer::singleShot(0, &form, [&form] { open_port_when_asked(form); });
  return app.exec();
}
