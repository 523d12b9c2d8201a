// How relayctl.exe takes Ctrl+C and the console window's close.
#include "interrupt_windows.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "interrupt.h"
#include "loop/win_event_wait.h"

using namespace std::chrono_literals;

TEST(InterruptOnWindows, CtrlCWakesTheWaitAndACloseHoldsTheProcessUntilTheWayOutIsDone) {
  catch_interrupts();
  ASSERT_FALSE(interrupted());

  // A Ctrl+C ends a wait for the far future at once: its message wakes the loop.
  WinEventWait wait;
  const auto start = std::chrono::steady_clock::now();
  std::thread ctrl_c([] { EXPECT_TRUE(handle_console_event(CTRL_C_EVENT)); });
  EXPECT_TRUE(wait.wait_until(interrupted, start + 10min));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1min);
  ctrl_c.join();
  // The wait may have seen the flag before the wake-up arrived: what is left is dropped.
  MSG left;
  while (PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE)) {
  }

  // The close returns, and so lets Windows end the process, only once main says the
  // command is over.
  std::atomic<bool> returned{false};
  std::thread close([&] {
    EXPECT_TRUE(handle_console_event(CTRL_CLOSE_EVENT));
    returned = true;
  });
  // Input already waiting counts too: the close may have posted before this wait began.
  ASSERT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 60000, QS_POSTMESSAGE, MWMO_INPUTAVAILABLE),
            WAIT_OBJECT_0);
  EXPECT_FALSE(returned);
  interrupts_finished();
  close.join();
  EXPECT_TRUE(returned);
  EXPECT_FALSE(handle_console_event(CTRL_LOGOFF_EVENT));  // left to the system
}
