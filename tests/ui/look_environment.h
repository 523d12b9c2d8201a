#pragma once

#include <string>

// The font environment and desktop theme that this run of the look tests was started
// in (see look_environment.cpp): RELAY_TEST_FONTS names a set of installed faces,
// RELAY_TEST_THEME a desktop theme. Empty: the machine's own.
std::string font_environment();
std::string theme_environment();

// False where the faces of the named environment are not installed on this machine.
bool font_environment_installed();
