#pragma once

#include <windows.h>

#include <functional>

// A message-only window on the thread that makes it. Other threads post to it, and
// whatever message loop that thread runs (a modal dialog's included) hands the
// program's own messages (WM_APP and up) and its timers to `on_message`.
class MessageWindow {
 public:
  using Handler = std::function<void(UINT message, WPARAM wparam, LPARAM lparam)>;
  explicit MessageWindow(Handler on_message);
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  HWND handle() const { return window_; }
  bool post(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) const {
    return PostMessageW(window_, message, wparam, lparam) != 0;
  }

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  Handler on_message_;
  HWND window_ = nullptr;
};
