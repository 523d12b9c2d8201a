#include "relay_panel_win/win_message_boxes.h"

#include "panel/scripted_run.h"
#include "relay_panel_win/win_text.h"

namespace {
UINT box_icon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return MB_ICONINFORMATION;
    case MessageIcon::Warning:
      return MB_ICONWARNING;
    case MessageIcon::Critical:
      return MB_ICONERROR;
    case MessageIcon::None:
      break;
  }
  return 0;
}

bool write_to(DWORD which, const std::string& text) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  if (GetFileType(handle) == FILE_TYPE_CHAR) {
    // A console shows UTF-16 as it is, whatever its code page.
    const std::wstring wide_text = wide(text);
    if (WriteConsoleW(handle, wide_text.data(), static_cast<DWORD>(wide_text.size()), &written,
                      nullptr)) {
      return true;
    }
  }
  return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0;
}
}  // namespace

void WinMessageBoxes::show(const Message& message) {
  const std::wstring caption = message.caption.empty() ? L"relay_panel" : wide(message.caption);
  // MessageBoxW shows the text as it is: no markup, no prefixes.
  MessageBoxW(GetActiveWindow(), wide(message.text).c_str(), caption.c_str(),
              MB_OK | box_icon(message.icon) | MB_SETFOREGROUND);
}

void StandardErrorMessages::show(const Message& message) {
  write_standard_error(message_line(message));
}

void write_standard_error(const std::string& text) {
  write_to(STD_ERROR_HANDLE, text);
}

bool write_standard_output(const std::string& text) {
  return write_to(STD_OUTPUT_HANDLE, text);
}
