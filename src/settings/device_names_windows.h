#pragma once

#include <cwctype>
#include <filesystem>
#include <string>

// CON, PRN, AUX, NUL, COM1..9 and LPT1..9, with any extension: on Windows a file of
// such a name is the device in every folder, and opening it may already act on it.
inline bool is_device_name(const std::filesystem::path& name) {
  std::wstring stem = name.native().substr(0, name.native().find(L'.'));
  while (!stem.empty() && (stem.back() == L' ' || stem.back() == L':')) stem.pop_back();
  for (auto& c : stem) c = static_cast<wchar_t>(std::towupper(c));
  if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL") return true;
  return stem.size() == 4 && (stem.starts_with(L"COM") || stem.starts_with(L"LPT")) &&
         stem[3] >= L'1' && stem[3] <= L'9';
}
