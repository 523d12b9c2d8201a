#pragma once

#include <optional>
#include <string>

// A password typed on the terminal without showing it (asked twice, both must match);
// from a pipe, its first line. Nothing when none was given or the two differ.
std::optional<std::string> read_new_password(const std::string& prompt);
