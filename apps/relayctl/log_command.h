#pragma once

#include <filesystem>
#include <ostream>

#include "ctl_options.h"

// relayctl log: the events of the log at `path` that the options ask for, oldest first,
// a line each (or a JSON object a line, or CSV under its header); the exit status.
int run_log(const CtlOptions& options, const std::filesystem::path& path, std::ostream& out,
            std::ostream& err);
