#include "relay_panel_win/name_file_watch.h"

#include <cstddef>

namespace {
constexpr DWORD changes =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;
}  // namespace

NameFileWatch::NameFileWatch(const std::filesystem::path& file, HWND window, UINT message) {
  if (file.empty()) return;
  name_ = file.filename().wstring();
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : L".";
  folder_ = CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // A folder the system cannot watch leaves the names as they were read at start.
  if (folder_ == INVALID_HANDLE_VALUE || stop_ == nullptr || done_ == nullptr) return;
  thread_ = std::thread([this, window, message] { watch(window, message); });
}

NameFileWatch::~NameFileWatch() {
  if (thread_.joinable()) {
    SetEvent(stop_);
    thread_.join();
  }
  if (folder_ != INVALID_HANDLE_VALUE) CloseHandle(folder_);
  if (stop_ != nullptr) CloseHandle(stop_);
  if (done_ != nullptr) CloseHandle(done_);
}

bool NameFileWatch::names_file(const void* buffer, DWORD size) const {
  if (size == 0) return true;
  const auto* bytes = static_cast<const std::byte*>(buffer);
  for (DWORD at = 0; at + sizeof(FILE_NOTIFY_INFORMATION) <= size;) {
    const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(bytes + at);
    const int length = static_cast<int>(record->FileNameLength / sizeof(wchar_t));
    if (CompareStringOrdinal(record->FileName, length, name_.c_str(),
                             static_cast<int>(name_.size()), TRUE) == CSTR_EQUAL) {
      return true;
    }
    if (record->NextEntryOffset == 0) break;
    at += record->NextEntryOffset;
  }
  return false;
}

void NameFileWatch::watch(HWND window, UINT message) {
  alignas(DWORD) std::byte records[8192];
  OVERLAPPED io{};
  io.hEvent = done_;
  const HANDLE waits[] = {stop_, done_};
  for (;;) {
    ResetEvent(done_);
    if (!ReadDirectoryChangesW(folder_, records, sizeof records, FALSE, changes, nullptr, &io,
                               nullptr)) {
      return;
    }
    DWORD size = 0;
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
      CancelIoEx(folder_, &io);
      GetOverlappedResult(folder_, &io, &size, TRUE);
      return;
    }
    if (!GetOverlappedResult(folder_, &io, &size, FALSE) &&
        GetLastError() != ERROR_NOTIFY_ENUM_DIR) {
      return;
    }
    if (names_file(records, size) && !posted_.exchange(true)) PostMessageW(window, message, 0, 0);
  }
}
