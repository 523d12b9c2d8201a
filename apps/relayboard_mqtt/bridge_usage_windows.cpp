#include "bridge_options.h"

// The Windows build has no web page yet, and clears no forgotten line.
std::string bridge_system_options() {
  return "";
}

std::string bridge_system_closing() {
  return R"(Exit status: 0 after Ctrl+C, Ctrl+Break or a closed console, 2 for a refused command
line or configuration or a line that another bridge serves (the option or file line and
the reason are logged), 1 when the bridge cannot start.
)";
}
