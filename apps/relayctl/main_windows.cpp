// relayctl.exe: the relay board from scripts, on the panel's own core, with the Win32
// serial line and message loop; served lines through libmosquitto on that loop, and the
// event log in the state folder.
#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "common/wide_text_windows.h"
#include "console_stream_windows.h"
#include "ctl_main.h"
#include "interrupt_windows.h"
#include "link_connection.h"
#include "log_command.h"
#include "loop/win_event_wait.h"
#include "mqtt/win_mosquitto_link.h"
#include "serial/win_serial_port.h"

namespace {

std::filesystem::path program_folder() {
  std::wstring file(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, file.data(), static_cast<DWORD>(file.size()));
    if (length == 0) return {};
    if (length < file.size()) {
      file.resize(length);
      return std::filesystem::path(file).parent_path();
    }
    file.resize(file.size() * 2);
  }
}

// The user's name as Windows keeps it: the C library's copy is in the system's code page.
std::string user_name() {
  const wchar_t* name = _wgetenv(L"USERNAME");
  return name != nullptr ? narrow(name) : std::string();
}

}  // namespace

int main() {
  const std::vector<std::string> arguments = utf8_command_line();
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  argv.push_back(nullptr);

  int status = 0;
  {
    const ConsoleText console;
    WinEventWait wait;
    const CtlPlatform platform{
        program_folder(),
        [](const std::filesystem::path&) { return std::make_unique<WinSerialPort>(); },
        wait,
        [](const BrokerAccess& access) {
          return std::make_unique<LinkConnection<WinMosquittoLink>>(
              relayctl_broker_settings(access, GetCurrentProcessId()));
        },
        open_event_log,
        run_log,
        user_name()};
    status = relayctl_main(static_cast<int>(arguments.size()), argv.data(), platform, std::cout,
                           std::cerr);
  }
  interrupts_finished();
  return status;
}
