#pragma once

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

// Tells the window when the name file may have changed: other programs (relayctl, a
// second panel, an editor) change names while the panel runs. The system's change
// records for the file's folder (each write replaces the file, which a watch on the file
// alone would lose) wake a thread of its own, which posts `message` to the window when a
// record names the file (or the records overflowed), once until the window says it took
// it; the window then reads the file again. Changes beside it post nothing: the lock
// files, the event log and whatever else the folder holds may be written many times a
// second, and each would have the window look at the name file again. Nothing is watched
// for an empty path: the panel runs without a name file.
class NameFileWatch {
 public:
  NameFileWatch(const std::filesystem::path& file, HWND window, UINT message);
  ~NameFileWatch();
  NameFileWatch(const NameFileWatch&) = delete;
  NameFileWatch& operator=(const NameFileWatch&) = delete;

  // The window took the message: the next change posts another.
  void taken() { posted_ = false; }

 private:
  void watch(HWND window, UINT message);
  // Whether the records in `buffer` (`size` bytes, none: they overflowed) name the file.
  bool names_file(const void* buffer, DWORD size) const;

  std::wstring name_;
  HANDLE folder_ = INVALID_HANDLE_VALUE;
  HANDLE stop_ = nullptr;
  HANDLE done_ = nullptr;
  std::atomic<bool> posted_{false};
  std::thread thread_;
};
