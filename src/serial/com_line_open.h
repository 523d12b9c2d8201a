#pragma once

#include <windows.h>

#include <string>

#include "serial/com_line_claim.h"

// A line opened with the panel's fixed settings (9600 8N1, no flow control, reads that
// return at once with what waits), or why it did not open.
struct OpenedLine {
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_SUCCESS;
  // The device opened but refused the settings: no serial line.
  bool refused_settings = false;
  // Held with the handle: the line is this program's alone.
  LineClaim claim;
  // Opened for overlapped I/O: the driver reports receive events, to be waited on.
  bool overlapped = false;
};

// Opens `device` for this program alone; its input queue starts empty.
OpenedLine open_com_line(const std::string& device);

// Why an open failed, in words for the operator.
std::string opened_line_failure(const OpenedLine& line, const std::string& device);
