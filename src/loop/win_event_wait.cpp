#include "loop/win_event_wait.h"

#include <windows.h>

#include <algorithm>

#include "loop/waitable_timer.h"

bool WinEventWait::wait_until(const std::function<bool()>& done, Clock::time_point deadline) {
  if (done()) return true;
  // The wait's own timeout, too, then ends to the millisecond.
  const TimerResolution resolution(deadline != Clock::time_point::max());
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        // Left for the loop that owns the thread.
        PostQuitMessage(static_cast<int>(message.wParam));
        return done();
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
      if (done()) return true;
    }
    const auto now = Clock::now();
    if (now >= deadline) return done();
    DWORD timeout = INFINITE;
    if (deadline != Clock::time_point::max()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
      timeout = static_cast<DWORD>(std::min<long long>(left.count(), INFINITE - 1));
    }
    // Any message wakes it, one posted to the thread itself included (a stop request).
    MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}
