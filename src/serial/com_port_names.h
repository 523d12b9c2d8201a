#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The number of a serial port's name: 3 for "COM3", "com3" or "\\.\COM3"; nothing for
// any other device name.
std::optional<int> com_port_number(std::string_view name);

// Port names in the order an operator counts them: COM2 before COM10, and names that
// are no COMn after the numbered ones, in plain order.
void sort_port_names(std::vector<std::string>& names);

// What follows "No such device": the ports present, or that there is none.
std::string present_ports_text(const std::vector<std::string>& present);
