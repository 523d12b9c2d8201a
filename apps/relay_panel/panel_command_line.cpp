#include "relay_panel/panel_command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

// Where the panel keeps its state, as the operator needs to know it to link a device
// or to find the names again.
constexpr const char* state_folder_rule =
    "\n"
    "Where name.txt (the title and the relays' names) is kept:\n"
    "  1. the file given with --names;\n"
    "  2. otherwise the program's own folder, when this user owns it and can write\n"
    "     it and it is not under /usr or /opt (a copy of the program in a folder of\n"
    "     its own keeps its names with it);\n"
    "  3. otherwise $XDG_CONFIG_HOME/relay_panel, or ~/.config/relay_panel when\n"
    "     XDG_CONFIG_HOME is not set; the folder is created when needed.\n"
    "A new name.txt is made with the default names on the first start.\n"
    "\n"
    "Port n opens the device that the link com<n> in the same folder as name.txt\n"
    "points to, otherwise /dev/ttyS<n-1>. To use a USB adapter as port 1:\n"
    "  ln -s /dev/ttyUSB0 ~/.config/relay_panel/com1\n";

// The window system's own options (QApplication takes them from the command line after
// this reading), accepted here so that they keep working; hidden from the help.
void accept_window_system_options(QCommandLineParser& parser) {
  for (const char* name :
       {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
        "qwindowicon", "qwindowtitle", "display", "geometry", "style", "stylesheet", "session"}) {
    QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
  for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
    QCommandLineOption option(QString::fromLatin1(name));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
}

std::string text_of(const QString& text) {
  return text.toStdString();
}

}  // namespace

std::variant<PanelOptions, PanelCommandLineExit> read_panel_command_line(
    const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Control panel for a 16-relay board on a serial port."));
  const QCommandLineOption help = parser.addHelpOption();
  // The convention of every program of the suite: -V the version, -v more words.
  const QCommandLineOption version({QStringLiteral("V"), QStringLiteral("version")},
                                   QStringLiteral("Displays version information."));
  parser.addOption(version);
  const QCommandLineOption verbose(
      {QStringLiteral("v"), QStringLiteral("verbose")},
      QStringLiteral("Tell on standard error which name file the panel keeps."));
  parser.addOption(verbose);
  const QCommandLineOption names(
      QStringLiteral("names"),
      QStringLiteral("Keep the title and the relays' names in FILE; the com<n> links are "
                     "then looked up in FILE's folder."),
      QStringLiteral("FILE"));
  parser.addOption(names);
  // Qt's options are words after one dash (-platform offscreen), not bundled letters.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  accept_window_system_options(parser);

  const QString program = QCoreApplication::applicationName();
  if (!parser.parse(arguments)) {
    return PanelCommandLineExit{
        2,
        text_of(program + QStringLiteral(": ") + parser.errorText() + QStringLiteral("\nTry '") +
                program + QStringLiteral(" --help'.\n")),
        true};
  }
  if (parser.isSet(help)) {
    return PanelCommandLineExit{0, text_of(parser.helpText()) + state_folder_rule, false};
  }
  if (parser.isSet(version)) {
    return PanelCommandLineExit{
        0, text_of(program + QLatin1Char(' ') + QCoreApplication::applicationVersion()) + "\n",
        false};
  }
  if (!parser.positionalArguments().isEmpty()) {
    return PanelCommandLineExit{
        2,
        text_of(program + QStringLiteral(": unexpected argument '") +
                parser.positionalArguments().constFirst() + QStringLiteral("'\nTry '") + program +
                QStringLiteral(" --help'.\n")),
        true};
  }
  PanelOptions options;
  options.verbose = parser.isSet(verbose);
  if (parser.isSet(names)) {
    const QString file = parser.value(names);
    if (file.isEmpty()) {
      return PanelCommandLineExit{
          2, text_of(program + QStringLiteral(": --names needs a file name\n")), true};
    }
    options.names = std::filesystem::path(file.toStdU16String());
  }
  return options;
}

namespace {

// The value of Qt's own option `name` (-platform, or --platform as Qt also takes it); the
// last one given wins, as in Qt.
std::optional<QString> qt_option(const QStringList& arguments, const QString& name) {
  std::optional<QString> value;
  for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
    const QString& word = arguments.at(i);
    if (word == QLatin1Char('-') + name || word == QStringLiteral("--") + name)
      value = arguments.at(++i);
  }
  return value;
}

}  // namespace

std::optional<std::string> missing_display(const QStringList& arguments,
                                           const DisplayEnvironment& environment) {
  // -platform wins over the variable; either may list several, tried in turn, each with
  // its own options after a colon. Unchosen, Qt starts on X11 or Wayland, whichever
  // the session has.
  const QString chosen =
      qt_option(arguments, QStringLiteral("platform")).value_or(environment.platform);
  const QStringList platforms = chosen.isEmpty()
                                    ? QStringList{QStringLiteral("xcb"), QStringLiteral("wayland")}
                                    : chosen.split(QLatin1Char(';'));
  const bool x11 = !environment.display.isEmpty() ||
                   !qt_option(arguments, QStringLiteral("display")).value_or(QString()).isEmpty();
  const bool wayland = !environment.wayland_display.isEmpty() || environment.wayland_socket;
  for (const QString& entry : platforms) {
    const QString name = entry.section(QLatin1Char(':'), 0, 0).trimmed();
    if (name == QLatin1String("xcb")) {
      if (x11) return std::nullopt;
    } else if (name.startsWith(QLatin1String("wayland"))) {
      if (wayland) return std::nullopt;
    } else if (!name.isEmpty()) {
      return std::nullopt;  // offscreen, vnc, eglfs...: a window system that needs no display
    }
  }
  return "relay_panel needs a display: " +
         std::string(chosen.isEmpty()
                         ? "neither DISPLAY nor WAYLAND_DISPLAY is set, and no -platform "
                           "names another window system"
                         : "the window system " + chosen.toStdString() +
                               " (-platform or QT_QPA_PLATFORM) finds no display in DISPLAY "
                               "or WAYLAND_DISPLAY") +
         ". Start it in a desktop session or over ssh -X; relayctl switches the relays "
         "without a display.\n";
}
