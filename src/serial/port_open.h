#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "serial/serial_port.h"

// Opens the device that a port number (through the com<n> links in `program_dir`) or a
// named device selects, with the port's own `open_line` (why not, on failure). A device
// that is not there comes with what is plugged in instead and how to link it.
OpenResult open_selected_device(
    std::int16_t number, const std::string& named_device, const std::filesystem::path& program_dir,
    bool already_open,
    const std::function<std::optional<std::string>(const std::string& device)>& open_line);
