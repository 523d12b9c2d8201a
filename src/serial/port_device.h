#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// The device that a port number names. On Windows port n is COMn. Elsewhere it is
// the link or device `com<n>` in the folder of the name file when that exists (as with
// Wine's dosdevices: `ln -s /dev/ttyUSB0 com1`), otherwise /dev/ttyS<n-1>. An empty
// folder (the panel runs without a name file) holds no links.
// Port 0 and negative numbers name no device.
// Each system's rule is in port_device_posix.cpp and port_device_windows.cpp.
std::optional<std::string> port_device(std::int16_t number,
                                       const std::filesystem::path& program_dir);

// How port `number` came to its device, for a message about a board that stays silent:
// "port 1: no link com1 in /home/u/.config/relay_panel, so the default device" points
// at the link nobody made. Empty where the number alone says it (Windows) or names no
// device.
std::string port_mapping_text(std::int16_t number, const std::filesystem::path& program_dir);

// Whether com<n> links in the folder can name a port's device: everywhere but on
// Windows, where port n is always COMn.
bool reads_port_links();
