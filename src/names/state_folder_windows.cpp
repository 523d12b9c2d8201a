#include <windows.h>

#include <atomic>
#include <string>

#include "names/state_folder_platform.h"

std::error_code folder_write_error(const std::filesystem::path& folder) {
  // Only a file really made tells: the folder's read-only flag means nothing to
  // Windows, and its access list (Program Files lets users read, not write) is not
  // what _waccess looks at. The probe has a name no other process or call uses, and the
  // system deletes it when its handle closes.
  static std::atomic<unsigned> count{0};
  const std::wstring name = L".relay_panel_probe_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                            std::to_wstring(count++) + L".tmp";
  const HANDLE probe = CreateFileW(
      (folder / name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    return {static_cast<int>(GetLastError()), std::system_category()};
  }
  CloseHandle(probe);
  return {};
}

void read_state_environment(StateFolderQuery& query) {
  query.per_user_rule = PerUserRule::AppData;
  // The process's own environment, which SetEnvironmentVariableW also changes.
  std::wstring appdata(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetEnvironmentVariableW(L"APPDATA", appdata.data(), static_cast<DWORD>(appdata.size()));
    if (length < appdata.size()) {
      appdata.resize(length);  // 0 when unset
      break;
    }
    appdata.resize(length);
  }
  query.appdata = appdata;
}
