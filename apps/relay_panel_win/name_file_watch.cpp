#include "relay_panel_win/name_file_watch.h"

NameFileWatch::NameFileWatch(const std::filesystem::path& file, HWND window, UINT message) {
  if (file.empty()) return;
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : L".";
  change_ = FindFirstChangeNotificationW(
      folder.c_str(), FALSE,
      FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE);
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // A folder the system cannot watch leaves the names as they were read at start.
  if (change_ == INVALID_HANDLE_VALUE || stop_ == nullptr) return;
  thread_ = std::thread([this, window, message] { watch(window, message); });
}

NameFileWatch::~NameFileWatch() {
  if (thread_.joinable()) {
    SetEvent(stop_);
    thread_.join();
  }
  if (change_ != INVALID_HANDLE_VALUE) FindCloseChangeNotification(change_);
  if (stop_ != nullptr) CloseHandle(stop_);
}

void NameFileWatch::watch(HWND window, UINT message) {
  const HANDLE waits[] = {stop_, change_};
  while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
    if (!posted_.exchange(true)) PostMessageW(window, message, 0, 0);
    if (!FindNextChangeNotification(change_)) return;
  }
}
