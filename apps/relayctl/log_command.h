#pragma once

#include <filesystem>
#include <memory>
#include <ostream>

#include "ctl_options.h"
#include "event_log/event_recorder.h"

// relayctl log: the events of the log at `path` that the options ask for, oldest first,
// a line each (or a JSON object a line, or CSV under its header); the exit status.
int run_log(const CtlOptions& options, const std::filesystem::path& path, std::ostream& out,
            std::ostream& err);

// The event log in `folder`, as a sink that owns it; nothing, and the reason on `err`,
// when it cannot be opened. An event that cannot be stored is told on `err` as well.
std::unique_ptr<EventSink> open_event_log(const std::filesystem::path& folder, std::ostream& err);
