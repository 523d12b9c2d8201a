#pragma once

#include <windows.h>

#include <functional>
#include <thread>

// Checks an open line's input queue about every millisecond on a thread of its own:
// `bytes_waiting` whenever bytes wait in the driver, `line_failed` once (and no more
// checks) when the line no longer answers, its device gone. Both run on the watcher's
// thread. The line's handle must outlive the watcher: destroying the watcher stops the
// thread and waits for it, after which nothing touches the handle.
class ComReceiveWatch {
 public:
  ComReceiveWatch(HANDLE line, std::function<void()> bytes_waiting,
                  std::function<void()> line_failed);
  ~ComReceiveWatch();
  ComReceiveWatch(const ComReceiveWatch&) = delete;
  ComReceiveWatch& operator=(const ComReceiveWatch&) = delete;

 private:
  void run();

  HANDLE line_;
  std::function<void()> bytes_waiting_;
  std::function<void()> line_failed_;
  HANDLE stop_ = nullptr;
  std::thread thread_;
};
