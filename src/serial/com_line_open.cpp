#include "serial/com_line_open.h"

#include <system_error>

#include "common/system_error_text.h"
#include "common/wide_text_windows.h"
#include "serial/com_open_failure.h"
#include "serial/present_com_ports.h"

namespace {

// An 8-byte frame takes 8.3 ms at 9600 baud; a line that will not take it in this long
// (a stuck driver) drops the rest rather than stall the panel.
constexpr DWORD write_timeout_ms = 100;
// A driver that reports receive events keeps a wait for one pending this long at least
// (no bytes come unasked); Wine's ends within a few milliseconds with nothing.
constexpr DWORD receive_event_probe_ms = 25;

bool reports_receive_events(HANDLE line) {
  if (!SetCommMask(line, EV_RXCHAR)) return false;
  OVERLAPPED wait{};
  wait.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!wait.hEvent) return false;
  DWORD events = 0;
  DWORD ignored = 0;
  bool reports = WaitCommEvent(line, &events, &wait) != 0 && (events & EV_RXCHAR) != 0;
  if (!reports && GetLastError() == ERROR_IO_PENDING) {
    reports = WaitForSingleObject(wait.hEvent, receive_event_probe_ms) == WAIT_TIMEOUT;
    if (reports) CancelIo(line);
    const bool ended = GetOverlappedResult(line, &wait, &ignored, TRUE) != 0;
    reports = reports || (ended && (events & EV_RXCHAR) != 0);
  }
  CloseHandle(wait.hEvent);
  return reports;
}

// Exclusive: no other program may open the port while the panel holds it.
OpenedLine open_configured(const std::string& device, DWORD flags) {
  const HANDLE handle = CreateFileW(wide(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {handle, GetLastError(), false, {}};
  DCB settings{};
  settings.DCBlength = sizeof settings;
  bool configured = GetCommState(handle, &settings) != 0;
  if (configured) {
    settings.BaudRate = CBR_9600;
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fBinary = TRUE;
    settings.fParity = FALSE;
    settings.fOutxCtsFlow = FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fDsrSensitivity = FALSE;
    settings.fTXContinueOnXoff = TRUE;
    settings.fOutX = FALSE;
    settings.fInX = FALSE;
    settings.fErrorChar = FALSE;
    settings.fNull = FALSE;
    // Raised as terminals raise them, but no handshake: the board ignores both.
    settings.fDtrControl = DTR_CONTROL_ENABLE;
    settings.fRtsControl = RTS_CONTROL_ENABLE;
    // A framing error on a noisy line must not stop every later read and write.
    settings.fAbortOnError = FALSE;
    configured = SetCommState(handle, &settings) != 0;
  }
  // Reads take what waits and return at once; the receive watch says when to read.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutConstant = write_timeout_ms;
  configured = configured && SetCommTimeouts(handle, &timeouts) != 0;
  if (!configured) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    return {INVALID_HANDLE_VALUE, error, true, {}};
  }
  // A fresh port starts with an empty input queue: whatever reached the line while it
  // was closed is stale.
  PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
  DWORD errors = 0;
  ClearCommError(handle, &errors, nullptr);
  return {handle, ERROR_SUCCESS, false, {}, (flags & FILE_FLAG_OVERLAPPED) != 0};
}

}  // namespace

OpenedLine open_com_line(const std::string& device) {
  LineClaim claim(device);
  if (!claim.held()) return {INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION, false, {}};
  // Overlapped, so that a thread may wait on the line's receive event while another
  // reads and writes; where the driver reports none, plain reads and writes cost Wine's
  // server fewer calls.
  OpenedLine line = open_configured(device, FILE_FLAG_OVERLAPPED);
  if (line.handle != INVALID_HANDLE_VALUE && !reports_receive_events(line.handle)) {
    CloseHandle(line.handle);
    line = open_configured(device, FILE_ATTRIBUTE_NORMAL);
  }
  if (line.handle != INVALID_HANDLE_VALUE) line.claim = std::move(claim);
  return line;
}

std::string opened_line_failure(const OpenedLine& line, const std::string& device) {
  const std::string system_text =
      system_error_text({static_cast<int>(line.error), std::system_category()});
  if (line.refused_settings) return not_a_serial_port_reason(system_text);
  const bool missing = line.error == ERROR_FILE_NOT_FOUND || line.error == ERROR_PATH_NOT_FOUND;
  return com_open_failure_reason(line.error, !missing && com_device_exists(device),
                                 missing ? present_com_ports() : std::vector<std::string>{},
                                 system_text);
}
