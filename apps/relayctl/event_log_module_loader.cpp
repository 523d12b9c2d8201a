#include <dlfcn.h>

#include <string>

#include "ctl_output.h"
#include "event_log_module.h"
#include "exit_code.h"
#include "module_loader.h"

namespace {

constexpr const char* module_name = "relayctl_events.so";

// The module's entry `symbol`; nullptr, and why not in `error`, when it has none.
void* entry_point(const char* symbol, std::string& error) {
  void* module = open_module(module_name, error, RTLD_LAZY);
  if (!module) return nullptr;
  void* entry = ::dlsym(module, symbol);
  if (!entry) error = std::string(module_name) + " has no event log";
  return entry;
}

}  // namespace

int load_and_run_log(const CtlOptions& options, const std::filesystem::path& path,
                     std::ostream& out, std::ostream& err) {
  std::string error;
  auto* entry =
      reinterpret_cast<decltype(&relayctl_run_log)>(entry_point("relayctl_run_log", error));
  if (!entry) {
    err << error_line("the event log is not available: " + error, exit_status(ExitCode::Usage),
                      options.json);
    return exit_status(ExitCode::Usage);
  }
  return entry(options, path, out, err);
}

std::unique_ptr<EventSink> load_event_log(const std::filesystem::path& folder, std::ostream& err) {
  std::string error;
  auto* entry = reinterpret_cast<decltype(&relayctl_open_event_log)>(
      entry_point("relayctl_open_event_log", error));
  if (!entry) {
    err << "relayctl: no event log: " << error << '\n';
    return nullptr;
  }
  return std::unique_ptr<EventSink>(entry(folder, err));
}
