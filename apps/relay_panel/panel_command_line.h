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

// Reads the arguments (the program's name first). Needs a QCoreApplication, whose name
// and version the help and version texts use.
std::variant<PanelOptions, PanelCommandLineExit> read_panel_command_line(
    const QStringList& arguments);
