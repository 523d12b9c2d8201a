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
#include "line_forgetting.h"
#include "service_windows.h"
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
  return std::nullopt;
}

// The way out, once asked for (Ctrl+C, a closed console, the system's shutdown): the same
// as a service stop, on the loop's thread.
std::function<void()> stop_request;  // posts the stop to the bridge's loop
std::atomic<bool> stopping{false};
HANDLE stopped_event = nullptr;

// Windows ends the process when the handler of a closing console returns, and at the
// latest 5 s after the close; the wait leaves some of that to the way out.
constexpr DWORD close_wait_ms = 4500;

BOOL WINAPI on_console_event(DWORD event) {
  if (event > CTRL_SHUTDOWN_EVENT) return FALSE;
  if (!stopping.exchange(true) && stop_request) stop_request();
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    WaitForSingleObject(stopped_event, close_wait_ms);
  }
  return TRUE;
}

// The bridge until it is asked to stop: `running` is handed the way to ask, once it serves.
int serve(const BridgeOptions& options, const ServiceLogs& logs,
          const std::function<void(std::function<void()>)>& running) {
  WinDaemonHost host;
  const ServiceLog& info = logs.info;
  BridgeDaemon daemon(host, options, program_folder(), info, logs.warning);
  if (const auto failure = daemon.start()) {
    logs.error(failure->text);
    // 2: the settings must be mended before a start can succeed.
    return failure->settings_fault ? 2 : 1;
  }
  daemon.on_refused = [&host] { host.quit(2); };
  running([&host, &daemon, info] {
    host.post([&host, &daemon, info] {
      info("stopping");
      daemon.stop([&host] { host.quit(0); });
    });
  });
  const int status = host.run();
  info("stopped");
  return status;
}

// The command line checked as for a start; the exit status when the program ends there.
std::optional<int> refusal(const BridgeOptionsResult& parsed, const ServiceLog& log) {
  if (const auto status = settle_command_line(parsed, std::cout, log)) return status;
  if (const auto why = unavailable(std::get<BridgeOptions>(parsed))) {
    log(*why);
    return 2;
  }
  return std::nullopt;
}

int service_main(const ServiceCommand& command) {
  if (command.kind == ServiceCommand::Kind::remove) return remove_service(command, log_line);
  const std::vector<std::string> words = service_bridge_words(command);
  if (command.kind == ServiceCommand::Kind::install) {
    // A bad option is refused now rather than at each start of the service.
    BridgeOptionsResult parsed = parse_bridge_options(words, this_host_name());
    if (std::holds_alternative<BridgeOptions>(parsed) &&
        (std::get<BridgeOptions>(parsed).help || std::get<BridgeOptions>(parsed).version)) {
      log_line("--install-service takes the options of a start, not --help or --version");
      return 2;
    }
    if (const auto status = refusal(parsed, log_line)) return *status;
    return install_service(command, log_line);
  }
  return run_service(
      command,
      [&words](const ServiceLogs& logs, const auto& running) {
        BridgeOptionsResult parsed = parse_bridge_options(words, this_host_name());
        if (const auto status = refusal(parsed, logs.error)) return *status;
        BridgeOptions options = std::get<BridgeOptions>(std::move(parsed));
        // The service's names, rules and event log are those of its data folder.
        if (!options.names)
          options.names = std::filesystem::path(service_data_folder()) / "name.txt";
        return serve(options, logs, running);
      },
      log_line);
}

}  // namespace

int main() {
  std::vector<std::string> arguments = utf8_command_line();
  if (!arguments.empty()) arguments.erase(arguments.begin());
  const ServiceCommandResult service = service_command(arguments);
  if (const auto* why = std::get_if<std::string>(&service)) {
    log_line(*why);
    return 2;
  }
  if (const auto* command = std::get_if<ServiceCommand>(&service)) return service_main(*command);
  const BridgeOptionsResult parsed = parse_bridge_options(arguments, this_host_name());
  if (const auto status = refusal(parsed, log_line)) return *status;

  if (std::get<BridgeOptions>(parsed).forget_line) {
    WinDaemonHost host;
    LineForgetting forgetting(host, std::get<BridgeOptions>(parsed), log_line);
    if (const auto failure = forgetting.start([&host](int status) { host.quit(status); })) {
      log_line(*failure);
      return 1;
    }
    return host.run();
  }

  stopped_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const int status = serve(std::get<BridgeOptions>(parsed), {log_line, log_line, log_line},
                           [](std::function<void()> stop) {
                             stop_request = std::move(stop);
                             SetConsoleCtrlHandler(on_console_event, TRUE);
                           });
  stop_request = nullptr;
  SetEvent(stopped_event);
  return status;
}
