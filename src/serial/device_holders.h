#pragma once

#include <optional>
#include <string>
#include <string_view>
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

// The process's name as the process table shows it (its comm, at most 15 bytes); empty
// where the table does not show it.
std::string process_name(long long pid, const std::string& proc = "/proc");

// Whether process `pid` may be the program that a lock file names by its file name:
// false only when the table shows the process's names (its comm, its program file, the
// first word of its command line) and none of them is `program`, that is when the
// number now belongs to another program. A user sees the comm and the command line of
// every process, so the answer is the same for root and for a user.
bool may_be_program(long long pid, std::string_view program, const std::string& proc = "/proc");

// Whether process `pid` has the device (or the device a link names) open; nothing
// where the table does not show that process's open files.
std::optional<bool> process_has_open(long long pid, const std::string& device,
                                     const std::string& proc = "/proc");

// "relay_panel (process 1234)" for the holders that keep the port locked; empty when the
// system shows none.
std::string device_holders_text(const std::string& device, const std::string& proc = "/proc");
