#include <windows.h>
#include <winternl.h>

#include "standard_output.h"

namespace {

// The pipe's state as the system keeps it, which the writing end may read: "closing"
// once the reader has gone. FilePipeLocalInformation and the state's value are the
// system's own; the structure is not in the headers of every toolchain.
struct PipeLocalInformation {
  ULONG type, configuration, maximum_instances, current_instances, inbound_quota,
      read_data_available, outbound_quota, write_quota_available, state, end;
};
constexpr int file_pipe_local_information = 24;
constexpr ULONG pipe_closing_state = 4;

using QueryInformationFile = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, int);

QueryInformationFile query_information_file() {
  static const auto query = reinterpret_cast<QueryInformationFile>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
  return query;
}

}  // namespace

void ignore_broken_pipe() {
  // Windows has no signal for it: a write to a pipe without a reader simply fails.
}

bool standard_output_closed() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return false;
  if (GetFileType(output) != FILE_TYPE_PIPE) return false;
  if (const auto query = query_information_file()) {
    IO_STATUS_BLOCK status{};
    PipeLocalInformation pipe{};
    if (query(output, &status, &pipe, sizeof pipe, file_pipe_local_information) >= 0) {
      return pipe.state == pipe_closing_state;
    }
  }
  // A pipe opened for reading as well answers a peek; one the system cannot tell
  // about (a Unix pipe under Wine) shows its reader gone at the next write.
  DWORD available = 0;
  if (PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr)) return false;
  const DWORD error = GetLastError();
  return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED;
}

bool standard_error_is_terminal() {
  // A console answers for its mode; a file or a pipe does not.
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}
