#pragma once

#include <string>
#include <system_error>

// The system's own words for a failure, as the operator reads them inside a sentence:
// UTF-8 on every system, in the system's language, without the line end or the full
// stop that Windows puts after its text. system_error_text_posix.cpp and
// system_error_text_windows.cpp, chosen by the build.
std::string system_error_text(const std::error_code& error);
