// relayboard-mqtt.exe: the boards of one COM line on an MQTT broker, on the bridge's logic
// with libmosquitto and the Win32 message loop, all on one thread.
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "bridge/host_name.h"
#include "bridge_daemon.h"
#include "bridge_launch.h"
#include "bridge_options.h"
#include "common/wide_text_windows.h"
#include "daemon_host_windows.h"
#include "text/shown_text.h"

namespace {

// One event, one line: received text (a topic, a name) cannot break a line of the log.
void log_line(const std::string& text) {
  std::cerr << "relayboard-mqtt: " + shown_text(text) + '\n' << std::flush;
}

std::filesystem::path program_folder() {
  std::wstring file(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, file.data(), static_cast<DWORD>(file.size()));
    if (length < file.size()) return std::filesystem::path(file.substr(0, length)).parent_path();
    file.resize(file.size() * 2);
  }
}

// What the Windows build does not do yet, refused rather than ignored.
std::optional<std::string> unavailable(const BridgeOptions& options) {
  if (options.web || options.add_web_user || options.web_users || options.web_cert ||
      options.web_key) {
    return "the web page is not in the Windows build of the bridge yet";
  }
  if (options.forget_line) return "--forget-line is not in the Windows build of the bridge yet";
  return std::nullopt;
}

// The way out, once asked for (Ctrl+C, a closed console, the system's shutdown): the same
// as a service stop, on the loop's thread.
WinDaemonHost* running_host = nullptr;
std::function<void()> stop_request;
std::atomic<bool> stopping{false};
HANDLE stopped_event = nullptr;

// Windows ends the process when the handler of a closing console returns, and at the
// latest 5 s after the close; the wait leaves some of that to the way out.
constexpr DWORD close_wait_ms = 4500;

BOOL WINAPI on_console_event(DWORD event) {
  if (event > CTRL_SHUTDOWN_EVENT) return FALSE;
  if (!stopping.exchange(true) && running_host) running_host->post(stop_request);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    WaitForSingleObject(stopped_event, close_wait_ms);
  }
  return TRUE;
}

}  // namespace

int main() {
  std::vector<std::string> arguments = utf8_command_line();
  if (!arguments.empty()) arguments.erase(arguments.begin());
  const BridgeOptionsResult parsed = parse_bridge_options(arguments, this_host_name());
  if (const auto status = settle_command_line(parsed, std::cout, log_line)) return *status;
  const BridgeOptions& options = std::get<BridgeOptions>(parsed);
  if (const auto why = unavailable(options)) {
    log_line(*why);
    return 2;
  }

  WinDaemonHost host;
  BridgeDaemon daemon(host, options, program_folder(), log_line);
  if (const auto failure = daemon.start()) {
    log_line(failure->text);
    // 2: the service manager does not start it again until the settings are mended.
    return failure->settings_fault ? 2 : 1;
  }
  daemon.on_refused = [&host] { host.quit(2); };
  stopped_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  running_host = &host;
  stop_request = [&host, &daemon] {
    log_line("stopping");
    daemon.stop([&host] { host.quit(0); });
  };
  SetConsoleCtrlHandler(on_console_event, TRUE);
  const int status = host.run();
  log_line("stopped");
  running_host = nullptr;
  SetEvent(stopped_event);
  return status;
}
