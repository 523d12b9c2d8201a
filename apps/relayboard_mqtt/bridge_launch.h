#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "bridge_options.h"

// What the command line settles before any loop runs, the same on every system: --help
// and --version (on `out`), a refused command line or configuration, files that cannot be
// read, a password that must not travel in clear. The exit status when the program ends
// there; nothing when it goes on with `parsed`'s options.
std::optional<int> settle_command_line(const BridgeOptionsResult& parsed, std::ostream& out,
                                       const std::function<void(const std::string&)>& log);
