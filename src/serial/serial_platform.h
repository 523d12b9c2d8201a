#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
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

// The device file a port's path names, links followed: locks belong to the device,
// not to one of the names it goes by. The path itself when it cannot be resolved.
std::string device_node(const std::string& path);

// Whether a device file exists at the path now (links followed).
bool device_present(const std::string& path);

// Takes this process's exclusive lock on the open line, which every open of the same
// device honours, whoever runs it. False when another open holds it.
bool lock_line(std::intptr_t handle);

// What an open line has to offer at this moment, asked without waiting.
enum class LineState {
  Readable,  // bytes wait to be read
  Quiet,     // nothing to read: a wake-up for bytes that are gone again
  HungUp,    // the other end is gone or the adapter was pulled
};
LineState line_state(std::intptr_t handle);

// Whether the device behind an open line is really gone: hung up, failing with an I/O
// error, or its device file at `path` vanished or now names another device. A read
// that merely found nothing is no such sign.
bool device_gone(std::intptr_t handle, const std::string& path);

// Hands bytes to the driver of an open line at once, without waiting for them to leave
// it; how many it took. Where the system has no such call the caller writes them its
// own way.
std::size_t write_line(std::intptr_t handle, std::span<const std::uint8_t> bytes);

// Takes in what waits on an open line without waiting: how many bytes, and whether the
// line was readable at all (a read that finds the line hung up or failing says so).
struct LineRead {
  LineState state = LineState::Quiet;
  std::size_t count = 0;
};
LineRead read_line(std::intptr_t handle, std::span<std::uint8_t> into);
