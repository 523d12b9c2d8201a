#include <windows.h>

#include "standard_output.h"

void ignore_broken_pipe() {
  // Windows has no signal for it: a write to a pipe without a reader simply fails.
}

bool standard_output_closed() {
  // The writing end of a pipe learns that its reader has gone only by asking the pipe.
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return false;
  if (GetFileType(output) != FILE_TYPE_PIPE) return false;
  DWORD available = 0;
  if (PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr)) return false;
  const DWORD error = GetLastError();
  return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED;
}
