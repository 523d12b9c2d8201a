#include "serial/present_com_ports.h"

#include <windows.h>

#include <algorithm>

#include "common/wide_text_windows.h"
#include "serial/com_port_names.h"

std::vector<std::string> present_com_ports() {
  std::vector<std::string> ports;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return ports;
  }
  // Each value is one driver's device; its data is the port's name.
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD name_length = 256;
    wchar_t data[256];
    DWORD data_size = sizeof data;
    DWORD type = 0;
    const LONG status = RegEnumValueW(key, index, name, &name_length, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &data_size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    std::wstring port(data, data_size / sizeof(wchar_t));
    while (!port.empty() && port.back() == L'\0') port.pop_back();
    if (!port.empty()) ports.push_back(narrow(port));
  }
  RegCloseKey(key);
  sort_port_names(ports);
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

bool com_device_exists(const std::string& device) {
  std::string name = device;
  if (name.starts_with("\\\\.\\")) name.erase(0, 4);
  // A name the system maps to a device (COMn and every other DOS device name).
  wchar_t target[1024];
  if (QueryDosDeviceW(wide(name).c_str(), target, 1024) != 0) return true;
  const auto number = com_port_number(device);
  if (!number) return false;
  const auto present = present_com_ports();
  return std::any_of(present.begin(), present.end(),
                     [&](const std::string& port) { return com_port_number(port) == number; });
}
