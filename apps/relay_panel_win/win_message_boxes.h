#pragma once

#include <windows.h>

#include "common/message_boxes.h"

// The core's messages as the system's modal message boxes, over the active window; a
// message without a caption of its own carries the program's name.
class WinMessageBoxes final : public MessageBoxes {
 public:
  void show(const Message& message) override;
};

// For scripted runs: each message as one line on standard error instead of a box.
class StandardErrorMessages final : public MessageBoxes {
 public:
  void show(const Message& message) override;
};

// Writes UTF-8 text to standard error, which a program of the GUI subsystem still has
// when its starter gave it one (a console, a pipe, Wine's own standard error).
void write_standard_error(const std::string& text);
// The same for standard output; false when there is none.
bool write_standard_output(const std::string& text);
