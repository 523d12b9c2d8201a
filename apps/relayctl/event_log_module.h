#pragma once

#include <filesystem>
#include <memory>
#include <ostream>

#include "ctl_options.h"
#include "event_log/event_recorder.h"

// The event log is an SQLite database, whose library takes a millisecond to load: only
// the commands that switch and `log` use it, through a module of its own
// (relayctl_events.so), loaded by those commands alone.

// The module's entry points: log_command.h's run_log and open_event_log.
extern "C" int relayctl_run_log(const CtlOptions& options, const std::filesystem::path& path,
                                std::ostream& out, std::ostream& err);
extern "C" EventSink* relayctl_open_event_log(const std::filesystem::path& folder,
                                              std::ostream& err);

// run_log and open_event_log through the module; when it cannot be loaded, `log` fails
// with the reason (exit 2) and a switching command runs without the log, saying why.
int load_and_run_log(const CtlOptions& options, const std::filesystem::path& path,
                     std::ostream& out, std::ostream& err);
std::unique_ptr<EventSink> load_event_log(const std::filesystem::path& folder, std::ostream& err);
