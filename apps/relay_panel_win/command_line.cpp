#include "relay_panel_win/command_line.h"

#include "relay_panel_win/win_text.h"

namespace {
constexpr const char* program = "relay_panel";

constexpr const char* help_text =
    "Usage: relay_panel [options]\n"
    "Control panel for a 16-relay board on a serial port.\n"
    "\n"
    "Options:\n"
    "  -h, --help      Displays help on commandline options.\n"
    "  -V, --version   Displays version information.\n"
    "  -v, --verbose   Tell on standard error which name file the panel keeps.\n"
    "  --names FILE    Keep the title and the relays' names in FILE.\n"
    "\n"
    "Where name.txt (the title and the relays' names) is kept:\n"
    "  1. the file given with --names;\n"
    "  2. otherwise the program's own folder, when this user can write it (a copy\n"
    "     of the program in a folder of its own keeps its names with it);\n"
    "  3. otherwise %APPDATA%\\relay_panel; the folder is created when needed.\n"
    "A new name.txt is made with the default names on the first start.\n"
    "\n"
    "Port n opens COMn.\n";

PanelCommandLineExit mistake(const std::string& what) {
  return {2, std::string(program) + ": " + what + "\nTry '" + program + " --help'.\n", true};
}
}  // namespace

std::variant<PanelOptions, PanelCommandLineExit> read_command_line(
    const std::vector<std::wstring>& arguments, const std::string& version) {
  PanelOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& word = arguments[i];
    if (word == L"--help" || word == L"-h" || word == L"-?" || word == L"/?") {
      return PanelCommandLineExit{0, help_text, false};
    }
    if (word == L"--version" || word == L"-V") {
      return PanelCommandLineExit{0, std::string(program) + " " + version + "\n", false};
    }
    if (word == L"--verbose" || word == L"-v") {
      options.verbose = true;
      continue;
    }
    std::wstring file;
    if (word == L"--names") {
      if (i + 1 == arguments.size()) return mistake("Missing value after '--names'.");
      file = arguments[++i];
    } else if (word.starts_with(L"--names=")) {
      file = word.substr(8);
    } else if (word.starts_with(L"-")) {
      return mistake("Unknown option '" + narrow(word) + "'.");
    } else {
      return mistake("unexpected argument '" + narrow(word) + "'");
    }
    if (file.empty())
      return PanelCommandLineExit{2, std::string(program) + ": --names needs a file name\n", true};
    options.names = std::filesystem::path(file);
  }
  return options;
}
