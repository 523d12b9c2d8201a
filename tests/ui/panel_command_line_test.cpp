#include "relay_panel/panel_command_line.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <string>
#include <variant>
#include <vector>

namespace {

// "names <file>" or "no names" for options, "exit <status>: <text>" for the rest.
std::string outcome(const QStringList& arguments) {
  const auto read = read_panel_command_line(QStringList{QStringLiteral("relay_panel")} + arguments);
  if (const auto* done = std::get_if<PanelCommandLineExit>(&read)) {
    return "exit " + std::to_string(done->status) + (done->to_standard_error ? " (stderr)" : "") +
           ": " + done->text;
  }
  const auto& options = std::get<PanelOptions>(read);
  return (options.names ? "names " + options.names->string() : "no names") +
         (options.verbose ? ", verbose" : "");
}

}  // namespace

TEST(PanelCommandLine, NamesFileVersionMistakesAndTheWindowSystemsOptions) {
  const QString name = QCoreApplication::applicationName();
  const QString version = QCoreApplication::applicationVersion();
  QCoreApplication::setApplicationName(QStringLiteral("relay_panel"));
  QCoreApplication::setApplicationVersion(QStringLiteral("9.8.7"));
  struct Case {
    QStringList arguments;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{}, "no names"},
      {{"--names", "/srv/plant/names.txt"}, "names /srv/plant/names.txt"},
      {{"--names=rel.txt"}, "names rel.txt"},
      {{"-platform", "offscreen", "-reverse", "--names", "a.txt"}, "names a.txt"},
      {{"-style", "fusion"}, "no names"},
      {{"--version"}, "exit 0: relay_panel 9.8.7\n"},
      {{"-V"}, "exit 0: relay_panel 9.8.7\n"},
      {{"-v", "--names", "a.txt"}, "names a.txt, verbose"},
      {{"--verbose"}, "no names, verbose"},
      {{"--names"},
       "exit 2 (stderr): relay_panel: Missing value after '--names'.\n"
       "Try 'relay_panel --help'.\n"},
      {{"--names", ""}, "exit 2 (stderr): relay_panel: --names needs a file name\n"},
      {{"--nmes", "a.txt"},
       "exit 2 (stderr): relay_panel: Unknown option 'nmes'.\nTry 'relay_panel --help'.\n"},
      {{"extra"},
       "exit 2 (stderr): relay_panel: unexpected argument 'extra'\nTry 'relay_panel --help'.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.join(' ').toStdString());
    EXPECT_EQ(outcome(c.arguments), c.expected);
  }
  const std::string help = outcome({"--help"});
  EXPECT_TRUE(help.starts_with("exit 0: Usage: ")) << help;
  EXPECT_NE(help.find("--names <FILE>"), std::string::npos);
  EXPECT_NE(help.find("$XDG_CONFIG_HOME/relay_panel"), std::string::npos);
  EXPECT_EQ(help.find("platform"), std::string::npos) << "Qt's own options stay hidden";
  QCoreApplication::setApplicationName(name);
  QCoreApplication::setApplicationVersion(version);
}

TEST(PanelCommandLine, NoWindowSystemThatCouldStartIsToldBeforeQtAborts) {
  const std::string unset = "neither DISPLAY nor WAYLAND_DISPLAY is set";
  const std::string xcb = "the window system xcb (-platform or QT_QPA_PLATFORM) finds no display";
  const struct {
    QStringList arguments;
    DisplayEnvironment environment;
    std::string reason;  // empty: the window may start
  } cases[] = {
      {{}, {}, unset},
      {{}, {"", ":0", "", false}, ""},
      {{"-display", ":1"}, {}, ""},
      {{}, {"", "", "wayland-1", false}, ""},
      {{}, {"", "", "", true}, ""},
      {{}, {"offscreen", "", "", false}, ""},
      {{}, {"xcb", "", "wayland-1", false}, xcb},
      {{}, {"wayland;xcb:nomitshm", ":0", "", false}, ""},
      {{"-platform", "xcb"}, {"offscreen", "", "", false}, xcb},
      {{"--platform", "minimal"}, {"xcb", "", "", false}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.environment.platform.toStdString() + " " + c.arguments.join(' ').toStdString());
    const auto missing = missing_display(QStringList{"relay_panel"} + c.arguments, c.environment);
    EXPECT_EQ(missing.has_value(), !c.reason.empty());
    if (missing) {
      EXPECT_TRUE(missing->starts_with("relay_panel needs a display: " + c.reason)) << *missing;
    }
  }
}
