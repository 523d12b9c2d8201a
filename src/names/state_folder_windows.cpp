#include <windows.h>
// After windows.h:
#include <knownfolders.h>
#include <shlobj.h>

#include <atomic>
#include <string>

#include "names/state_folder_platform.h"

namespace {

// The folder's full name in its long form (not PROGRA~1), without a closing separator.
std::wstring long_name(const std::wstring& folder) {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetLongPathNameW(folder.c_str(), name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) {
      name = folder;
      break;
    }
    if (length < name.size()) {
      name.resize(length);
      break;
    }
    name.resize(length);
  }
  while (name.size() > 3 && (name.back() == L'\\' || name.back() == L'/')) name.pop_back();
  return name;
}

// Whether `folder` is `root` or inside it, with Windows' own rule for letter case.
bool inside(const std::wstring& folder, const std::wstring& root) {
  if (root.empty() || folder.size() < root.size()) return false;
  if (CompareStringOrdinal(folder.data(), static_cast<int>(root.size()), root.data(),
                           static_cast<int>(root.size()), TRUE) != CSTR_EQUAL) {
    return false;
  }
  return folder.size() == root.size() || folder[root.size()] == L'\\' || root.back() == L'\\';
}

}  // namespace

bool installed_program_folder(const std::filesystem::path& folder) {
  const std::wstring program = long_name(folder.wstring());
  for (const KNOWNFOLDERID& id :
       {FOLDERID_ProgramFiles, FOLDERID_ProgramFilesX86, FOLDERID_ProgramFilesX64}) {
    wchar_t* root = nullptr;
    // The 64-bit folder cannot be named from a 32-bit process: that call fails.
    const bool named = SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &root));
    const bool found = named && inside(program, long_name(root));
    CoTaskMemFree(root);
    if (found) return true;
  }
  return false;
}

void read_program_folder(StateFolderQuery& query) {
  query.program_dir_installed = installed_program_folder(query.program_dir);
}

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
