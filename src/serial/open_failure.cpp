#include "serial/open_failure.h"

#include "serial/device_holders.h"
#include "serial/bridge_holder.h"

namespace {

std::string no_such_device(const DeviceAccess& access) {
  if (access.link_target.empty()) return "No such device";
  return "No such device (the link points to " + access.link_target + ", which does not exist)";
}

std::string no_access(const DeviceAccess& access) {
  const std::string denied = "Permission denied: ";
  if (access.group.empty()) return denied + "this user may not read and write the device";
  const std::string membership = access.in_group ? "this user is in it" : "this user is not in it";
  // Joining the group would not help when the group itself may not use the device.
  if (!access.group_read_write) {
    return denied + "the device does not let its group " + access.group +
           " read and write it, and " + membership;
  }
  if (access.in_group) {
    return denied + "this user is in the group " + access.group +
           " but may still not read and write the device";
  }
  if (access.listed_in_group) {
    return denied + "this user was added to the group " + access.group +
           " after logging in; log out and in again";
  }
  return denied + "the device belongs to the group " + access.group +
         ", and this user is not in it; add the user with \"sudo usermod -aG " + access.group +
         " $USER\" and log in again";
}

}  // namespace

std::string device_busy_reason(const std::string& device) {
  // A bridge that keeps the port serves its line to everyone: the operator opens that.
  if (!device.empty()) {
    std::vector<long long> keepers;
    for (const DeviceHolder& holder : device_holders(device)) {
      if (holder.locked) keepers.push_back(holder.pid);
    }
    if (const auto pid = lock_holder_pid(device_node(device))) keepers.push_back(*pid);
    for (const long long pid : keepers) {
      if (const auto line = served_line(pid)) return "Device busy: " + served_port_text(*line);
    }
  }
  std::string holders = device.empty() ? std::string() : device_holders_text(device);
  // Another user's open files are hidden from this one; its lock file is not.
  if (holders.empty() && !device.empty()) holders = lock_holder_text(device_node(device));
  if (holders.empty()) return "Device busy: another program is using the port";
  return "Device busy: " + holders + " is using the port";
}

std::string stale_lock_reason(const StaleLock& lock) {
  return "Stale lock file: " + lock.path + " " + lock.why +
         ", and this user may not remove it; remove it with \"sudo rm " + lock.path +
         "\" and open the port again";
}

std::string stale_lock_notice(const StaleLock& lock) {
  // What a program that was killed or crashed leaves is taken over without a word.
  if (lock.ended) return {};
  return "the lock file " + lock.path + " " + lock.why + "; it was taken as stale and removed";
}

std::string open_failure_reason(OpenError error, const std::string& text,
                                const DeviceAccess& access, const std::string& device) {
  if (!access.exists || error == OpenError::not_found) return no_such_device(access);
  if (error == OpenError::permission) {
    if (access.read_write) return device_busy_reason(device);
    return no_access(access);
  }
  // A terminal setting refused at open: the device is no serial line (a plain file, a
  // pipe, /dev/null).
  if (error == OpenError::unsupported) return "Not a serial port (" + text + ")";
  return text.empty() ? "Unknown error" : text;
}
