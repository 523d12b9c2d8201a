#include <windows.h>

#include "serial/serial_platform.h"

// Windows reports a busy or missing COM port through the open itself, and an
// unplugged adapter through read errors; there is nothing more to ask the system.
DeviceAccess probe_device_access(const std::string&) {
  DeviceAccess access;
  access.exists = true;
  access.read_write = true;
  return access;
}

// COM ports have one name each, and their opens are exclusive already.
std::string device_node(const std::string& path) {
  return path;
}

bool device_present(const std::string&) {
  // The open itself tells; an absent port fails it at once.
  return true;
}

bool lock_line(std::intptr_t) {
  return true;
}

LineState line_state(std::intptr_t) {
  return LineState::Readable;
}

bool device_gone(std::intptr_t handle, const std::string&) {
  // A removed adapter's handle fails every communications call.
  DCB settings{};
  settings.DCBlength = sizeof settings;
  return !GetCommState(reinterpret_cast<HANDLE>(handle), &settings);
}

// The port is opened for overlapped I/O: QSerialPort writes and reads it.
std::size_t write_line(std::intptr_t, std::span<const std::uint8_t>) {
  return 0;
}

LineRead read_line(std::intptr_t, std::span<std::uint8_t>) {
  return {};
}
