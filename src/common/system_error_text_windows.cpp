#include <windows.h>

#include "common/system_error_text.h"
#include "common/wide_text_windows.h"

std::string system_error_text(const std::error_code& error) {
  // The C library's codes (std::generic_category) have its English text; Windows' own
  // codes are asked for as wide text, which is the only form that holds every language:
  // the narrow form is in the ANSI code page (GBK on a Chinese system).
  if (error.category() != std::system_category()) return error.message();
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error.value()), 0, reinterpret_cast<wchar_t*>(&buffer), 0,
      nullptr);
  std::wstring text(buffer ? buffer : L"", length);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                           text.back() == L'.' || text.back() == L'\u3002')) {
    text.pop_back();
  }
  if (text.empty()) return "System error " + std::to_string(error.value());
  return narrow(text);
}
