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

// Whether com<n> links in the folder can name a port's device: everywhere but on
// Windows, where port n is always COMn.
bool reads_port_links();
