#pragma once

#include <string>
#include <vector>

// The serial ports the system lists (COM1, COM3, ...), in the operator's order.
std::vector<std::string> present_com_ports();

// Whether the system knows the device `device` (COMn, \\.\COMn or another device name),
// so that a refused open means someone holds it rather than that it is missing.
bool com_device_exists(const std::string& device);
