#pragma once

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <thread>

// Tells the window when the name file may have changed: other programs (relayctl, a
// second panel, an editor) change names while the panel runs. The system's change
// notification on the file's folder (each write replaces the file, which a watch on the
// file alone would lose) wakes a thread of its own, which posts `message` to the window,
// once until the window says it took it; the window then reads the file again, and a
// change beside it (another file of the folder) finds the file's bytes as they were.
// Nothing is watched for an empty path: the panel runs without a name file.
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

  HANDLE change_ = INVALID_HANDLE_VALUE;
  HANDLE stop_ = nullptr;
  std::atomic<bool> posted_{false};
  std::thread thread_;
};
