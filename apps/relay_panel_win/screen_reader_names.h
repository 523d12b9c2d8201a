#pragma once

#include <windows.h>

#include <string>

// What a screen reader is told about the window's controls beyond their window texts:
// a name where the text cannot say it (a box's content is its text, a name label's is
// the bare name), and no listing at all for decorations that nothing reads. Needs COM
// on the thread; without it (or on a system without the service) nothing is said.
void set_spoken_name(HWND control, const std::string& name);
void hide_from_screen_readers(HWND control);
