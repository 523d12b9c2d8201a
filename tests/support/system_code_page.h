#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

// The system's ANSI code page, in which Windows reads and writes name files without a
// byte-order mark; 0 elsewhere, where such files are GB18030 (or UTF-8).
inline unsigned ansi_code_page() {
#ifdef _WIN32
  return GetACP();
#else
  return 0;
#endif
}

// Whether unmarked files hold code page 936 (or its superset GB18030): everywhere but
// on a Windows system set to another code page.
inline bool chinese_code_page() {
  return ansi_code_page() == 0 || ansi_code_page() == 936;
}
