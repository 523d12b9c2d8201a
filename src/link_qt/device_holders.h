#pragma once

#include <string>
#include <vector>

// A program that has a device open, as the system's process table shows it.
struct DeviceHolder {
  int pid = 0;
  std::string name;     // the program's name, as the system keeps it
  bool locked = false;  // it holds the lock that keeps the port for itself
};

// The other processes that have the device open, found through /proc where the system
// has one; empty where it has none or will not show them (another user's processes).
// `proc` is the process table's folder, for tests.
std::vector<DeviceHolder> device_holders(const std::string& device,
                                         const std::string& proc = "/proc");

// "relay_panel (process 1234)" for the holders that keep the port locked; empty when the
// system shows none.
std::string device_holders_text(const std::string& device, const std::string& proc = "/proc");
