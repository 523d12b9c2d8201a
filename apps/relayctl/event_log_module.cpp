// The module that holds relayctl's event log and SQLite.
#include "event_log_module.h"

#include "log_command.h"

extern "C" int relayctl_run_log(const CtlOptions& options, const std::filesystem::path& path,
                                std::ostream& out, std::ostream& err) {
  return run_log(options, path, out, err);
}

extern "C" EventSink* relayctl_open_event_log(const std::filesystem::path& folder,
                                              std::ostream& err) {
  return open_event_log(folder, err).release();
}
