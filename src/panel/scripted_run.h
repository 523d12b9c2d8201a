#pragma once

#include <string>
#include <string_view>

#include "common/message_boxes.h"

// Scripted and headless runs of the panel (the package's own test, the window tests,
// start-up timing), the same in both windows. With RELAY_PANEL_MESSAGES=stderr every
// message goes to standard error as one line instead of a box that waits for a click,
// and, once the window is up, a line says so; RELAY_PANEL_OPEN_PORT=N puts N in the
// port box and presses "open com", as an operator would.

inline constexpr const char* messages_variable = "RELAY_PANEL_MESSAGES";
inline constexpr const char* messages_to_standard_error_value = "stderr";
inline constexpr const char* open_port_variable = "RELAY_PANEL_OPEN_PORT";

// "<caption>: <text>\n", or the text alone when the message has no caption.
std::string message_line(const Message& message);

// "shown: <title>\n": the window is up.
std::string shown_line(std::string_view title);

// "client: <left> <top> <width> <height>\n": where the client area stands on the screen,
// in the screen's pixels, for a test that clicks and reads pixels from outside.
std::string client_line(int left, int top, int width, int height);
