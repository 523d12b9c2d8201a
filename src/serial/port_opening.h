#pragma once

#include <functional>
#include <optional>
#include <string>

#include "serial/serial_port.h"

// What the operator's open of a port came to, in the words every program tells it by.
struct PortOpening {
  bool ok = false;
  // The whole message when it failed ("Port 1 (/dev/ttyUSB0) could not be opened: ..."),
  // or opened with a warning; empty otherwise.
  std::string failure;
  std::string notice;
  // The line that opened: its device, or the port's name when it maps to none.
  std::string line;
};

// Opens the port that `port_text` numbers, or the device at `device` when one is named,
// as the panel's open button does: `check` says first why the line must not be opened
// (its rules file has a fault), and the port then waits for a whole answer per receive
// event.
PortOpening open_port(SerialPort& port, const std::string& port_text,
                      const std::optional<std::string>& device,
                      const std::function<std::optional<std::string>()>& check);
