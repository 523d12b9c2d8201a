#pragma once

#include <QStringList>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>

// What the panel's command line asks for.
struct PanelOptions {
  std::optional<std::filesystem::path> names;  // --names FILE
  bool verbose = false;                        // -v: the name file in use, on stderr
};

// The command line was handled without a window: --help, --version or a mistake.
struct PanelCommandLineExit {
  int status = 0;
  std::string text;  // what to print
  bool to_standard_error = false;
};

// What Qt's choice of a window system depends on besides the command line's -platform
// and -display.
struct DisplayEnvironment {
  QString platform;             // QT_QPA_PLATFORM
  QString display;              // DISPLAY
  QString wayland_display;      // WAYLAND_DISPLAY
  bool wayland_socket = false;  // $XDG_RUNTIME_DIR/wayland-0, which Wayland tries unnamed
};

// Why no window system that Qt would choose can start, as the line to print; nothing when
// one can. Qt itself aborts there, with advice that does not fit.
std::optional<std::string> missing_display(const QStringList& arguments,
                                           const DisplayEnvironment& environment);

// Reads the arguments (the program's name first). Needs a QCoreApplication, whose name
// and version the help and version texts use.
std::variant<PanelOptions, PanelCommandLineExit> read_panel_command_line(
    const QStringList& arguments);
