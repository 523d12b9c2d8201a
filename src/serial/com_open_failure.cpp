#include "serial/com_open_failure.h"

#include <windows.h>

#include "serial/com_port_names.h"

std::string com_open_failure_reason(unsigned long error, bool port_exists,
                                    const std::vector<std::string>& present_ports,
                                    const std::string& system_text) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
      return "No such device" + present_ports_text(present_ports);
    case ERROR_SHARING_VIOLATION:
      return "Device busy: another program is using the port";
    case ERROR_ACCESS_DENIED:
      if (port_exists) return "Device busy: another program is using the port";
      return "Permission denied: this user may not read and write the device";
    default:
      return system_text.empty() ? "Unknown error" : system_text;
  }
}

std::string not_a_serial_port_reason(const std::string& system_text) {
  return "Not a serial port (" +
         (system_text.empty() ? std::string("Unknown error") : system_text) + ")";
}
