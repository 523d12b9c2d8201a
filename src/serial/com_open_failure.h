#pragma once

#include <string>
#include <vector>

// Why a serial port could not be opened, in words for the operator, from the system's
// error code. Windows reports a port that another program holds as access denied, as it
// does a device this user may not use: `port_exists` (the system knows the device)
// tells the two apart. A missing port comes with the ports that are present.
// `system_text` is the system's own message, for errors that have no words here.
std::string com_open_failure_reason(unsigned long error, bool port_exists,
                                    const std::vector<std::string>& present_ports,
                                    const std::string& system_text);

// The reason given for a device that opened but refused the line's settings.
std::string not_a_serial_port_reason(const std::string& system_text);
