#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "loop/win_event_wait.h"
#include "loop/win_poll_timer.h"

namespace {

using namespace std::chrono_literals;

// Generous: Wine's programs can all stall for tens of seconds while it sets up a prefix
// just made, and a wait that is met returns at once anyway.
constexpr auto patience = 120s;

TEST(WinPollTimer, TicksReachTheWaitingThreadAndStopWhenDisabled) {
  int ticks = 0;
  WinPollTimer timer(10ms, [&] { ++ticks; });
  WinEventWait wait;
  wait.run_for(50ms);
  EXPECT_EQ(ticks, 0) << "a timer ticks only once enabled";

  timer.set_enabled(true);
  EXPECT_TRUE(timer.is_active());
  EXPECT_TRUE(wait.wait_until([&] { return ticks >= 5; }, wait.now() + patience));

  timer.set_enabled(false);
  EXPECT_FALSE(timer.is_active());
  const int stopped_at = ticks;
  wait.run_for(100ms);
  EXPECT_EQ(ticks, stopped_at);

  timer.set_enabled(true);
  EXPECT_TRUE(wait.wait_until([&] { return ticks > stopped_at; }, wait.now() + patience));
}

TEST(WinEventWait, AMessageToTheThreadEndsTheWait) {
  std::atomic<bool> asked{false};
  const DWORD waiting_thread = GetCurrentThreadId();
  const HANDLE waiting = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // A thread has a message queue, and can be posted to, once it asks for messages.
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
  // Asked to stop once the wait runs; only the message can make it look again.
  std::thread stopper([&] {
    WaitForSingleObject(waiting, INFINITE);
    asked = true;
    PostThreadMessageW(waiting_thread, WM_NULL, 0, 0);
  });
  WinEventWait wait;
  const auto deadline = wait.now() + patience;
  EXPECT_TRUE(wait.wait_until(
      [&] {
        SetEvent(waiting);
        return asked.load();
      },
      deadline));
  EXPECT_LT(wait.now(), deadline);
  stopper.join();
  CloseHandle(waiting);
}

}  // namespace
