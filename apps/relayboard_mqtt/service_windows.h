#pragma once

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// relayboard-mqtt.exe as a Windows service, one for each line: relayboard-mqtt-LINE,
// run as LocalService, started with the system, started again 5 s after it fails. Its
// state and settings live in %ProgramData%\relayboard-mqtt, which only administrators,
// the system and the service account may open; its log is the Windows event log, source
// "relayboard-mqtt".

using ServiceLog = std::function<void(const std::string&)>;

// What the command line asks of the service manager, when its first word is one of
// --install-service, --remove-service or --service, each followed by the line.
struct ServiceCommand {
  enum class Kind { install, remove, run } kind;
  std::string line;
  std::vector<std::string> options;  // the bridge's options after the line
};
// The command, or nothing for a plain start; a refusal (no line, a line that cannot be
// a topic level) as its message.
using ServiceCommandResult = std::variant<std::monostate, ServiceCommand, std::string>;
ServiceCommandResult service_command(const std::vector<std::string>& words);

// The bridge's options for the service of `line`: the line itself, then `options`.
std::vector<std::string> service_bridge_words(const ServiceCommand& command);

// The folder of every service's settings and state, %ProgramData%\relayboard-mqtt.
std::wstring service_data_folder();

// Registers the service with `command.options` on its command line, its event source and
// its data folder; `log` says what was done or why not. The exit status: 0 installed,
// 1 refused by the system (not an administrator, already installed).
int install_service(const ServiceCommand& command, const ServiceLog& log);
// Stops the service if it runs, removes it and, when no other line's service is left,
// the event source; 0 removed, 1 not (not an administrator, not installed).
int remove_service(const ServiceCommand& command, const ServiceLog& log);

// How the service logs: each line an event of its type.
struct ServiceLogs {
  ServiceLog info;
  ServiceLog warning;  // what went wrong and is lived with: a lost line or broker
  ServiceLog error;    // why it cannot run
};
// What the service runs: the bridge, told how to log and, once it serves, handed the way
// to ask it to stop from another thread; its exit status.
using ServiceBody = std::function<int(const ServiceLogs& logs,
                                      const std::function<void(std::function<void()>)>& running)>;
// Hands the process to the service manager and runs `body` as the service of
// `command.line`; the exit status (1, said on `log`, when the process was not started
// by the service manager).
int run_service(const ServiceCommand& command, ServiceBody body, const ServiceLog& log);
