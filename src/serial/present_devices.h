#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// The serial devices present under `dev_root` (/dev), as the operator would link them:
// the stable names in serial/by-id when there are any, else the USB adapters (ttyUSB*,
// ttyACM*) and the built-in lines (ttyS*) for which `answers_as_line` holds. Sorted.
std::vector<std::string> present_serial_devices(
    const std::filesystem::path& dev_root,
    const std::function<bool(const std::filesystem::path&)>& answers_as_line);

// Whether a ttyS device is a real line: most systems have 32 of them, with only one or
// two behind a UART. Only Linux can be asked (present_devices_linux.cpp); elsewhere no
// line counts as real (present_devices_other.cpp).
bool serial_line_answers(const std::filesystem::path& device);

// What follows "No such device" for port `port`: the devices present and the command
// that links one as com<port> in `link_dir` (com1 for a port below 1, which no link
// can serve), or that none is present.
std::string missing_device_advice(int port, const std::vector<std::string>& present,
                                  const std::filesystem::path& link_dir);
