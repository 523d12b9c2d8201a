#include "link_win/com_receive_watch.h"

#include "link_win/waitable_timer.h"

namespace {
constexpr std::chrono::milliseconds check_interval{1};
}  // namespace

ComReceiveWatch::ComReceiveWatch(HANDLE line, std::function<void()> bytes_waiting,
                                 std::function<void()> line_failed)
    : line_(line),
      bytes_waiting_(std::move(bytes_waiting)),
      line_failed_(std::move(line_failed)),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      thread_([this] { run(); }) {}

ComReceiveWatch::~ComReceiveWatch() {
  SetEvent(stop_);
  thread_.join();
  CloseHandle(stop_);
}

void ComReceiveWatch::run() {
  WaitableTimer timer;
  const bool paced = timer.handle() && timer.fire_every(check_interval);
  // A plain timer, or none, wakes the thread to the millisecond only at a raised
  // resolution.
  const TimerResolution resolution(!paced || !timer.high_resolution());
  const HANDLE waits[2] = {stop_, timer.handle()};
  for (;;) {
    const DWORD woken = paced ? WaitForMultipleObjects(2, waits, FALSE, INFINITE)
                              : WaitForSingleObject(stop_, check_interval.count());
    if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) break;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(line_, &errors, &status)) {
      line_failed_();
      break;
    }
    if (status.cbInQue > 0) bytes_waiting_();
  }
  if (paced) timer.cancel();
}
