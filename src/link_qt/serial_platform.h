#pragma once

#include <cstdint>
#include <string>

// What the system says about a serial device file, to explain a failed open.
struct DeviceAccess {
  bool exists = false;            // the path, links followed, names a file
  std::string link_target;        // where the path points when it is a link
  bool read_write = false;        // this process may open it for reading and writing
  std::string group;              // the group owning the device, when it has a name
  bool group_read_write = false;  // members of that group may read and write it
  bool in_group = false;          // this process runs with that group
  bool listed_in_group = false;   // the user is a member in the group database
};

DeviceAccess probe_device_access(const std::string& path);

// Whether the line behind an open port's handle has hung up: the other end of a
// pseudo-terminal is gone or the USB adapter was pulled.
bool line_hung_up(std::intptr_t handle);
