#include "serial/com_receive_watch.h"

ComReceiveWatch::ComReceiveWatch(HANDLE line, std::function<void()> bytes_waiting,
                                 std::function<void(bool)> stopped)
    : line_(line),
      bytes_waiting_(std::move(bytes_waiting)),
      stopped_(std::move(stopped)),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      thread_([this] { run(); }) {}

ComReceiveWatch::~ComReceiveWatch() {
  SetEvent(stop_);
  thread_.join();
  CloseHandle(stop_);
}

bool ComReceiveWatch::look() {
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(line_, &errors, &status)) {
    stopped_(true);
    return false;
  }
  if (status.cbInQue > 0) bytes_waiting_();
  return true;
}

void ComReceiveWatch::run() {
  OVERLAPPED wait{};
  wait.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!wait.hEvent || !SetCommMask(line_, EV_RXCHAR)) {
    if (wait.hEvent) CloseHandle(wait.hEvent);
    stopped_(false);
    return;
  }
  for (;;) {
    DWORD events = 0;
    ResetEvent(wait.hEvent);
    bool reported = WaitCommEvent(line_, &events, &wait) != 0;
    if (!reported && GetLastError() == ERROR_IO_PENDING) {
      // Bytes that came before the wait began raise no event of their own.
      const bool failed = !look();
      const HANDLE waits[2] = {stop_, wait.hEvent};
      DWORD ignored = 0;
      if (failed || WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
        CancelIo(line_);
        GetOverlappedResult(line_, &wait, &ignored, TRUE);
        break;
      }
      reported = GetOverlappedResult(line_, &wait, &ignored, FALSE) != 0;
    }
    // A wait that ends with no receive: the device is gone, or its driver has no events.
    if (!reported || (events & EV_RXCHAR) == 0) {
      DWORD errors = 0;
      stopped_(!ClearCommError(line_, &errors, nullptr));
      break;
    }
    if (!look()) break;
  }
  CloseHandle(wait.hEvent);
}
