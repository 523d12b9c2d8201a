#pragma once

#include <windows.h>

#include <functional>
#include <string>

// A number box with its spin bar: a one-line edit and an up-down control beside it
// whose upper arrow raises the number (0 to 255) and lower arrow lowers it, saturating
// at the ends. The edit refuses any text that is neither empty nor such a number. The
// owner couples the two through the two events, each raised only on a real change and
// at once, nested in the assignment that caused it.
class NumberBox {
 public:
  NumberBox(HWND parent, int box_id, int bar_id);

  HWND box() const { return box_; }
  HWND bar() const { return bar_; }

  std::string text() const;
  // Raises on_text_changed, nested, when the text differs.
  void set_text(const std::string& text);
  int number() const { return number_; }
  // Raises on_number_changed, nested, when the number differs.
  void set_number(int number);

  // The parent hands over the edit's EN_CHANGE and the bar's WM_VSCROLL.
  void box_changed();
  void bar_moved(WPARAM scroll);

  std::function<void()> on_text_changed;
  std::function<void()> on_number_changed;

 private:
  static LRESULT CALLBACK bar_keys(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                   UINT_PTR, DWORD_PTR self);

  HWND box_;
  HWND bar_;
  int number_ = 1;
  std::wstring accepted_ = L"1";  // the box's last text that it may hold
  bool restoring_ = false;
};
