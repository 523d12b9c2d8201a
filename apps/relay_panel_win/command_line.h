#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// What the panel's command line asks for.
struct PanelOptions {
  std::optional<std::filesystem::path> names;  // --names FILE
  bool verbose = false;                        // -v: the name file in use, on stderr
};

// The command line was handled without a window: --help, --version or a mistake.
struct PanelCommandLineExit {
  int status = 0;
  std::string text;  // what to tell the operator
  bool error = false;
};

// Reads the arguments after the program's name, as UTF-16 words.
std::variant<PanelOptions, PanelCommandLineExit> read_command_line(
    const std::vector<std::wstring>& arguments, const std::string& version);
