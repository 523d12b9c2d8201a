#pragma once

#include <filesystem>
#include <string>

// What the port box's tooltip tells the operator: the device that the number typed
// in the box would open, e.g. "Port 1: /dev/ttyS0", and on a second line the folder
// whose com<n> links map numbers to devices (none when the folder is empty).
std::string port_tooltip(const std::string& port_text, const std::filesystem::path& link_dir);
