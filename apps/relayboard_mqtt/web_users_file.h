#pragma once

#include <functional>
#include <string>

#include "bridge_options.h"

// --add-web-user: asks the user's password and writes their line in the users file,
// leaving every other line as it was. The exit status: 0 when stored, 2 for a refused
// name, role or file, 1 when the file cannot be written.
int add_web_user(const BridgeOptions& options, const std::function<void(const std::string&)>& log);
