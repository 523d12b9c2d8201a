#include "service_windows.h"

#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>

#include "bridge_options.h"
#include "common/wide_text_windows.h"

namespace {

constexpr const wchar_t* event_source = L"relayboard-mqtt";
constexpr const wchar_t* event_source_key =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\relayboard-mqtt";
constexpr DWORD text_message_id = 1;  // service_messages.mc
const std::string service_prefix = "relayboard-mqtt-";

// Administrators and the system may do anything, the service account may change what is
// there; nobody else may even read it (the broker's password lies there). Inherited by
// every file made in the folder.
constexpr const wchar_t* data_folder_access =
    L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;LS)";
// What a data folder that is a link or a file, not a folder, is refused with.
constexpr DWORD data_folder_not_a_folder = ERROR_CANT_RESOLVE_FILENAME;

struct ScHandle {
  SC_HANDLE handle = nullptr;
  ~ScHandle() {
    if (handle) CloseServiceHandle(handle);
  }
};

std::string service_name(const std::string& line) {
  return service_prefix + line;
}

std::wstring program_path() {
  std::wstring file(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, file.data(), static_cast<DWORD>(file.size()));
    if (length < file.size()) return file.substr(0, length);
    file.resize(file.size() * 2);
  }
}

// One word of a command line as the C runtime reads it back: in quotes when it holds a
// space, a tab or a quote, the backslashes before a quote doubled.
std::wstring quoted(const std::wstring& word) {
  if (!word.empty() && word.find_first_of(L" \t\"") == std::wstring::npos) return word;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

std::string system_text(DWORD error) {
  if (error == ERROR_ACCESS_DENIED) return "not an administrator";
  if (error == ERROR_SERVICE_EXISTS) return "already installed";
  if (error == ERROR_SERVICE_DOES_NOT_EXIST) return "not installed";
  if (error == data_folder_not_a_folder)
    return narrow(service_data_folder()) + " is a link or a file, not a folder: remove it";
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string said = length ? narrow(std::wstring_view(text, length)) : "";
  LocalFree(text);
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == '.'))
    said.pop_back();
  return said.empty() ? "system error " + std::to_string(error) : said;
}

// The data folder made, or given back its owner and access list when it is there: any user
// may make a folder in ProgramData, and its maker, as owner, could open it again to plant
// the settings the service trusts. A link there is refused, not followed.
DWORD prepare_data_folder() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(data_folder_access, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return GetLastError();
  }
  const std::wstring folder = service_data_folder();
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  DWORD error = ERROR_SUCCESS;
  if (!CreateDirectoryW(folder.c_str(), &attributes)) {
    error = GetLastError();
    const DWORD kind = GetFileAttributesW(folder.c_str());
    if (error == ERROR_ALREADY_EXISTS &&
        (kind == INVALID_FILE_ATTRIBUTES || !(kind & FILE_ATTRIBUTE_DIRECTORY) ||
         (kind & FILE_ATTRIBUTE_REPARSE_POINT))) {
      error = data_folder_not_a_folder;
    } else if (error == ERROR_ALREADY_EXISTS) {
      BOOL present = FALSE;
      BOOL defaulted = FALSE;
      PACL acl = nullptr;
      PSID owner = nullptr;
      GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted);
      GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
      error = SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                        PROTECTED_DACL_SECURITY_INFORMATION,
                                    owner, nullptr, acl, nullptr);
    }
  }
  LocalFree(descriptor);
  return error;
}

DWORD register_event_source() {
  HKEY key = nullptr;
  DWORD error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, event_source_key, 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, &key, nullptr);
  if (error != ERROR_SUCCESS) return error;
  const std::wstring file = program_path();
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  error = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                         reinterpret_cast<const BYTE*>(file.c_str()),
                         static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
  if (error == ERROR_SUCCESS) {
    error = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&types), sizeof types);
  }
  RegCloseKey(key);
  return error;
}

// Whether a service of another line is still installed, which logs under the same source.
bool other_service_left(SC_HANDLE manager, const std::string& removed) {
  DWORD needed = 0;
  DWORD count = 0;
  DWORD resume = 0;
  EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0,
                        &needed, &count, &resume, nullptr);
  std::vector<BYTE> buffer(needed);
  resume = 0;
  if (!EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL,
                             buffer.data(), needed, &needed, &count, &resume, nullptr)) {
    return true;  // when in doubt the source stays: a stale key harms no one
  }
  const auto* services = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    const std::string name = narrow(services[i].lpServiceName);
    if (name.rfind(service_prefix, 0) == 0 && name != removed) return true;
  }
  return false;
}

// The running service: the service manager's calls have no room for a context.
struct Running {
  std::wstring name;
  ServiceBody body;
  SERVICE_STATUS_HANDLE handle = nullptr;
  SERVICE_STATUS status{};
  HANDLE source = nullptr;
  std::function<void()> stop;  // set once the bridge serves
  std::atomic<bool> stopping{false};
  int exit_status = 1;
  DWORD pending_beats = 0;  // since the last state reported
  std::mutex mutex;  // the status, set from the handler's thread, the bridge's and the beat's
};
Running* running = nullptr;

// How long each pending state may last before the service manager gives up on it: the
// start opens the line and the broker link; the stop ends owed pulses and says goodbye
// to the broker (BridgeDaemon::leave_patience) before the line closes.
constexpr DWORD start_wait_ms = 15000;
constexpr DWORD stop_wait_ms = 10000;

// How often a pending start or stop tells the service manager that it still moves on, and
// for how long at most: the manager gives up on a state whose checkpoint stays put for
// its wait hint, and a stop that ends several owed pulses on a slow line may take longer.
constexpr DWORD still_pending_ms = 1000;
constexpr DWORD most_pending_beats = 60;

void report(DWORD state, DWORD wait_hint = 0, DWORD exit_status = 0) {
  std::lock_guard lock(running->mutex);
  running->pending_beats = 0;
  SERVICE_STATUS& status = running->status;
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      state == SERVICE_RUNNING
          ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PRESHUTDOWN | SERVICE_ACCEPT_SHUTDOWN
          : 0;
  status.dwWin32ExitCode = exit_status ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
  status.dwServiceSpecificExitCode = exit_status;
  const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  status.dwCheckPoint = pending ? status.dwCheckPoint + 1 : 0;
  status.dwWaitHint = wait_hint;
  SetServiceStatus(running->handle, &status);
}

void CALLBACK still_pending(void*, BOOLEAN) {
  std::lock_guard lock(running->mutex);
  SERVICE_STATUS& status = running->status;
  const bool pending = status.dwCurrentState == SERVICE_START_PENDING ||
                       status.dwCurrentState == SERVICE_STOP_PENDING;
  if (!pending || ++running->pending_beats > most_pending_beats) return;
  ++status.dwCheckPoint;
  SetServiceStatus(running->handle, &status);
}

void report_event(WORD type, const std::string& text) {
  const std::wstring line = wide(text);
  const wchar_t* strings[] = {line.c_str()};
  ReportEventW(running->source, type, 0, text_message_id, nullptr, 1, 0, strings, nullptr);
}

DWORD WINAPI on_control(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
    case SERVICE_CONTROL_PRESHUTDOWN: {
      std::function<void()> stop;
      {
        std::lock_guard lock(running->mutex);
        stop = running->stop;
      }
      if (!stop || running->stopping.exchange(true)) return NO_ERROR;
      report(SERVICE_STOP_PENDING, stop_wait_ms);
      stop();
      return NO_ERROR;
    }
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI service_main(DWORD, wchar_t**) {
  running->handle = RegisterServiceCtrlHandlerExW(running->name.c_str(), on_control, nullptr);
  if (!running->handle) return;
  report(SERVICE_START_PENDING, start_wait_ms);
  HANDLE beat = nullptr;
  CreateTimerQueueTimer(&beat, nullptr, still_pending, nullptr, still_pending_ms, still_pending_ms,
                        WT_EXECUTEDEFAULT);
  const auto logged_as = [](WORD type) {
    return [type](const std::string& text) { report_event(type, text); };
  };
  const ServiceLogs logs{logged_as(EVENTLOG_INFORMATION_TYPE), logged_as(EVENTLOG_WARNING_TYPE),
                         logged_as(EVENTLOG_ERROR_TYPE)};
  const int status = running->body(logs, [](std::function<void()> stop) {
    {
      std::lock_guard lock(running->mutex);
      running->stop = std::move(stop);
    }
    report(SERVICE_RUNNING);
  });
  running->exit_status = status;
  // Waits for a beat under way: none may follow STOPPED.
  if (beat) DeleteTimerQueueTimer(nullptr, beat, INVALID_HANDLE_VALUE);
  report(SERVICE_STOPPED, 0, static_cast<DWORD>(status));
}

// The options' files as full paths: the service starts in the system's folder, not in
// the one it was installed from.
void make_paths_full(std::vector<std::string>& options) {
  static const std::vector<std::string> file_options{"--config", "--names",    "--password-file",
                                                     "--cafile", "--certfile", "--keyfile"};
  const auto full = [](const std::string& file) {
    std::error_code ignored;
    return narrow(std::filesystem::absolute(wide(file), ignored).wstring());
  };
  for (std::size_t i = 0; i < options.size(); ++i) {
    for (const std::string& option : file_options) {
      if (options[i] == option && i + 1 < options.size()) {
        options[i + 1] = full(options[i + 1]);
        ++i;
        break;
      }
      if (options[i].starts_with(option + "=")) {
        options[i] = option + "=" + full(options[i].substr(option.size() + 1));
        break;
      }
    }
  }
}

}  // namespace

ServiceCommandResult service_command(const std::vector<std::string>& words) {
  if (words.empty()) return std::monostate{};
  ServiceCommand command{ServiceCommand::Kind::run, {}, {}};
  if (words[0] == "--install-service") {
    command.kind = ServiceCommand::Kind::install;
  } else if (words[0] == "--remove-service") {
    command.kind = ServiceCommand::Kind::remove;
  } else if (words[0] != "--service") {
    return std::monostate{};
  }
  if (words.size() < 2) return words[0] + " needs the line's name";
  if (!valid_line_name(words[1])) {
    return words[0] + ": the line's name may hold only A-Z, a-z, 0-9, _ and -";
  }
  command.line = words[1];
  command.options.assign(words.begin() + 2, words.end());
  if (command.kind == ServiceCommand::Kind::remove && !command.options.empty()) {
    return "--remove-service takes the line's name alone";
  }
  if (command.kind == ServiceCommand::Kind::install) make_paths_full(command.options);
  return command;
}

std::vector<std::string> service_bridge_words(const ServiceCommand& command) {
  std::vector<std::string> words{"--line", command.line};
  words.insert(words.end(), command.options.begin(), command.options.end());
  return words;
}

std::wstring service_data_folder() {
  // The known folder rather than %ProgramData%: the service manager's environment need not
  // have the installing administrator's.
  wchar_t* known = nullptr;
  std::wstring folder = L"C:\\ProgramData";
  if (SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &known) == S_OK) folder = known;
  CoTaskMemFree(known);
  return folder + L"\\relayboard-mqtt";
}

int install_service(const ServiceCommand& command, const ServiceLog& log) {
  const std::string name = service_name(command.line);
  const auto refuse = [&](DWORD error) {
    log("cannot install service " + name + ": " + system_text(error));
    return 1;
  };
  ScHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE)};
  if (!manager.handle) return refuse(GetLastError());
  std::wstring command_line = quoted(program_path()) + L" --service " + wide(command.line);
  for (const std::string& option : command.options) command_line += L" " + quoted(wide(option));
  const std::wstring display = L"Relay board MQTT bridge (" + wide(command.line) + L")";
  ScHandle service{CreateServiceW(manager.handle, wide(name).c_str(), display.c_str(),
                                  SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, command_line.c_str(), nullptr, nullptr,
                                  nullptr, L"NT AUTHORITY\\LocalService", nullptr)};
  if (!service.handle) return refuse(GetLastError());
  std::wstring about = L"Serves the relay boards of line " + wide(command.line) +
                       L" on an MQTT broker. Settings and state: " + service_data_folder();
  SERVICE_DESCRIPTIONW description{about.data()};
  // Started again 5 s after each failure, the count of failures forgotten after a day.
  SC_ACTION restart[] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}};
  SERVICE_FAILURE_ACTIONSW failure{24 * 60 * 60, nullptr, nullptr, 2, restart};
  SERVICE_PRESHUTDOWN_INFO preshutdown{stop_wait_ms};
  DWORD error = ERROR_SUCCESS;
  if (!ChangeServiceConfig2W(service.handle, SERVICE_CONFIG_DESCRIPTION, &description) ||
      !ChangeServiceConfig2W(service.handle, SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) {
    error = GetLastError();
  }
  // The stop at shutdown has time to end owed pulses; older systems only send SHUTDOWN.
  ChangeServiceConfig2W(service.handle, SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown);
  if (error == ERROR_SUCCESS) error = register_event_source();
  if (error == ERROR_SUCCESS) error = prepare_data_folder();
  if (error != ERROR_SUCCESS) {
    // Nothing half made stays behind.
    DeleteService(service.handle);
    return refuse(error);
  }
  log("installed service " + name);
  return 0;
}

int remove_service(const ServiceCommand& command, const ServiceLog& log) {
  const std::string name = service_name(command.line);
  const auto refuse = [&](DWORD error) {
    log("cannot remove service " + name + ": " + system_text(error));
    return 1;
  };
  ScHandle manager{
      OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE)};
  if (!manager.handle) return refuse(GetLastError());
  ScHandle service{OpenServiceW(manager.handle, wide(name).c_str(),
                                DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS)};
  if (!service.handle) return refuse(GetLastError());
  SERVICE_STATUS status{};
  if (ControlService(service.handle, SERVICE_CONTROL_STOP, &status)) {
    // The stop ends owed pulses first: the service is gone only once it has stopped.
    const ULONGLONG give_up = GetTickCount64() + 30000;
    while (QueryServiceStatus(service.handle, &status) &&
           status.dwCurrentState != SERVICE_STOPPED && GetTickCount64() < give_up) {
      Sleep(100);
    }
  }
  if (!DeleteService(service.handle)) return refuse(GetLastError());
  if (!other_service_left(manager.handle, name))
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, event_source_key);
  log("removed service " + name);
  return 0;
}

int run_service(const ServiceCommand& command, ServiceBody body, const ServiceLog& log) {
  static Running state;
  state.name = wide(service_name(command.line));
  state.body = std::move(body);
  state.source = RegisterEventSourceW(nullptr, event_source);
  running = &state;
  SERVICE_TABLE_ENTRYW table[] = {{state.name.data(), service_main}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    const DWORD error = GetLastError();
    log(error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
            ? "--service is for the service manager: start it with sc start " +
                  service_name(command.line)
            : "cannot run as a service: " + system_text(error));
    return 1;
  }
  if (state.source) DeregisterEventSource(state.source);
  return state.exit_status;
}
