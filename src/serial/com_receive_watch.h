#pragma once

#include <windows.h>

#include <functional>
#include <thread>

// Waits, on a thread of its own, on the receive event of a line opened for overlapped
// I/O and tells when bytes wait there: `bytes_waiting`, again for later bytes. When the
// wait fails, `stopped` comes once and the watch does nothing more: `device_gone`, or the
// driver reports no receive events after all (its wait ended with nothing). Both run on
// the watch's thread. The line's handle must outlive the watch: destroying the watch
// stops the thread and waits for it, after which nothing touches the handle.
class ComReceiveWatch {
 public:
  ComReceiveWatch(HANDLE line, std::function<void()> bytes_waiting,
                  std::function<void(bool device_gone)> stopped);
  ~ComReceiveWatch();
  ComReceiveWatch(const ComReceiveWatch&) = delete;
  ComReceiveWatch& operator=(const ComReceiveWatch&) = delete;

 private:
  void run();
  // False when the line failed (and that was told).
  bool look();

  HANDLE line_;
  std::function<void()> bytes_waiting_;
  std::function<void(bool)> stopped_;
  HANDLE stop_ = nullptr;
  std::thread thread_;
};
