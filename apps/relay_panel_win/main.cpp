// The system's own header first: the others build on its types.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <objbase.h>
// clang-format on

#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "event_log/event_log.h"
#include "loop/win_event_wait.h"
#include "serial/win_serial_port.h"
#include "names/state_folder.h"
#include "panel/scripted_run.h"
#include "relay_panel_win/command_line.h"
#include "relay_panel_win/dpi_scale.h"
#include "relay_panel_win/main_window.h"
#include "relay_panel_win/win_message_boxes.h"
#include "relay_panel_win/win_text.h"
#include "panel/line_choice_port.h"
#include "mqtt/win_served_line_port.h"

namespace {
std::vector<std::wstring> arguments() {
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> list;
  for (int i = 1; i < count; ++i) list.emplace_back(words[i]);
  LocalFree(words);
  return list;
}

std::wstring environment(const wchar_t* name) {
  std::wstring value(256, L'\0');
  DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  if (length >= value.size()) {
    value.resize(length);
    length = GetEnvironmentVariableW(name, value.data(), length);
  }
  value.resize(length);
  return value;
}

std::filesystem::path program_folder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return std::filesystem::path(path).parent_path();
}

// --help and --version answer on standard output where the starter gave one (a console
// or a pipe), else in a box: a program of the GUI subsystem often has none.
int answer(const PanelCommandLineExit& done) {
  if (!(done.error ? (write_standard_error(done.text), true) : write_standard_output(done.text))) {
    MessageBoxW(nullptr, wide(done.text).c_str(), L"relay_panel",
                MB_OK | (done.error ? MB_ICONERROR : MB_ICONINFORMATION));
  }
  return done.status;
}

// Scripted runs hear that the window is up and where its client area stands, then the
// port is opened when asked: both once the message loop runs.
constexpr UINT window_is_up = WM_APP + 1;
}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const auto command_line = read_command_line(arguments(), RELAY_PANEL_VERSION);
  if (const auto* done = std::get_if<PanelCommandLineExit>(&command_line)) return answer(*done);

  become_dpi_aware();
  // The screen reader's annotations of the controls are a COM service.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                      ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);

  const bool scripted =
      narrow(environment(L"RELAY_PANEL_MESSAGES")) == messages_to_standard_error_value;
  std::unique_ptr<MessageBoxes> message_boxes;
  if (scripted) {
    message_boxes = std::make_unique<StandardErrorMessages>();
  } else {
    message_boxes = std::make_unique<WinMessageBoxes>();
  }
  MessageBoxes& messages = *message_boxes;
  // name.txt: beside the program, or per user where the program's folder cannot be written.
  const StateFolder state =
      settle_state_folder(program_folder(), std::get<PanelOptions>(command_line).names, messages);
  if (std::get<PanelOptions>(command_line).verbose && !state.name_file.empty()) {
    write_standard_error("relay_panel: names in " + narrow(state.name_file.wstring()) + "\n");
  }
  // A number that lines.conf beside name.txt maps opens the line a bridge serves.
  WinSerialPort serial;
  WinServedLinePort served;
  LineChoicePort port(serial, served, state.folder);
  // The panel owns the serial lines it opens (a served line is its bridge's): their
  // boards' on_start and on_stop states hold.
  WinEventWait release_wait;
  MainWindow window(state.name_file, state.folder, messages, port);
  window.own_lines(release_wait, [&port] { return !port.owns_names(); });
  window.use_line_owner(port, port);
  window.run_ticks_through([&serial](const std::function<void()>& tick) { serial.on_tick(tick); });
  served.on_waiting = [&window](bool waiting) { window.set_waiting(waiting); };
  // Who switched what: the state folder's event log, beside name.txt. Without it the
  // panel works as ever; the reason goes to standard error.
  std::unique_ptr<EventLog> event_log;
  std::unique_ptr<EventLogSink> event_sink;
  if (!state.folder.empty()) {
    const auto warn = [](const std::string& why) {
      write_standard_error("relay_panel: " + why + "\n");
    };
    event_log = open_panel_event_log(state.folder, warn);
    if (event_log) {
      event_sink = std::make_unique<EventLogSink>(*event_log, warn);
      window.set_event_sink(*event_sink, {"panel", narrow(environment(L"USERNAME")), ""});
    }
  }
  window.set_up();
  window.show();
  PostMessageW(window.handle(), window_is_up, 0, 0);
  const std::string open_port = narrow(environment(L"RELAY_PANEL_OPEN_PORT"));

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == window_is_up && message.hwnd == window.handle()) {
      if (scripted) {
        RECT client;
        GetClientRect(window.handle(), &client);
        POINT corner{0, 0};
        ClientToScreen(window.handle(), &corner);
        write_standard_error(shown_line(window_text(window.handle())) +
                             client_line(corner.x, corner.y, client.right, client.bottom));
      }
      if (!open_port.empty()) window.open_port(open_port);
      continue;
    }
    if (window.handle() && window.dialog_message(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (scripted) {
    // How often the line was looked at for the answers it was asked for.
    const WinSerialPort::LineCounts counts = serial.counts();
    write_standard_error("line: " + std::to_string(counts.looks) + " looks for " +
                         std::to_string(counts.requests) + " requests\n");
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return static_cast<int>(message.wParam);
}
