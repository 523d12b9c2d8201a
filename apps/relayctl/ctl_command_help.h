#pragma once

#include <string>

#include "ctl_options.h"

// `relayctl COMMAND --help`: the command's synopsis, its options and an example.
std::string ctl_command_usage(CtlCommand command);
