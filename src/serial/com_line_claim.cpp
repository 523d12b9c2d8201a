#include "serial/com_line_claim.h"

#include <cwctype>

#include "common/wide_text_windows.h"

std::wstring line_claim_name(const std::string& device) {
  std::wstring name = wide(device.starts_with("\\\\.\\") ? device.substr(4) : device);
  // A kernel object's name may not hold a backslash past its namespace.
  for (auto& c : name) c = c == L'\\' ? L'/' : static_cast<wchar_t>(std::towupper(c));
  return L"Local\\relay-serial-line:" + name;
}

LineClaim::LineClaim(const std::string& device) {
  mutex_ = CreateMutexW(nullptr, FALSE, line_claim_name(device).c_str());
  if (mutex_ && GetLastError() == ERROR_ALREADY_EXISTS) release();
}

LineClaim& LineClaim::operator=(LineClaim&& other) noexcept {
  if (this != &other) {
    release();
    mutex_ = other.mutex_;
    other.mutex_ = nullptr;
  }
  return *this;
}

void LineClaim::release() {
  if (mutex_) CloseHandle(mutex_);
  mutex_ = nullptr;
}
