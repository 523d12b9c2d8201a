#include <windows.h>

#include <array>

#include "bridge/host_name.h"

std::string this_host_name() {
  std::array<char, MAX_COMPUTERNAME_LENGTH + 1> name{};
  DWORD size = name.size();
  if (!::GetComputerNameA(name.data(), &size)) return {};
  return std::string(name.data(), size);
}
