#include "interrupt_windows.h"

#include <windows.h>

#include <atomic>

#include "interrupt.h"

namespace {

std::atomic<bool> interrupt_flag{false};
std::atomic<DWORD> main_thread{0};
// Set once the command has found its way out: the console's close waits for it.
HANDLE finished = nullptr;

// Windows ends the process when the handler of a closing console returns, and at
// the latest 5 s after the close; the wait leaves some of that to the way out.
constexpr DWORD close_wait_ms = 4500;

BOOL WINAPI on_console_event(DWORD event) {
  return handle_console_event(event) ? TRUE : FALSE;
}

}  // namespace

bool handle_console_event(unsigned long event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      interrupt_flag = true;
      // The event loop wakes at once, whatever it waits for: the end of a pulse's hold
      // may be minutes away.
      PostThreadMessageW(main_thread, WM_NULL, 0, 0);
      if (event == CTRL_CLOSE_EVENT && finished != nullptr) {
        WaitForSingleObject(finished, close_wait_ms);
      }
      return true;
    default:
      return false;
  }
}

void catch_interrupts() {
  // A thread has a message queue only once it calls on the window system; a Ctrl+C
  // posted before that would be lost, and a wait that has just begun would sleep on.
  MSG message;
  PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  main_thread = GetCurrentThreadId();
  finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // A Ctrl+C that the parent disabled for this process (a background start) stays so:
  // the system then passes only Ctrl+Break and the close to the handler.
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool interrupted() {
  return interrupt_flag;
}

void interrupts_finished() {
  if (finished != nullptr) SetEvent(finished);
}
