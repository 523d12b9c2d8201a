#pragma once

#include <string>

#include "serial/serial_lock_file.h"
#include "serial/serial_platform.h"

// How an open of the line failed, as each serial port tells it.
enum class OpenError {
  not_found,    // no device at the path
  permission,   // refused: another program's lock, exclusive mode, or the access rights
  unsupported,  // a terminal setting refused: no serial line
  other,
};

// Why a port could not be opened, in words for the operator. A port held by another
// program (its lock file, or the line's exclusive mode) and a device this user may not
// use both come as a permission error; the device's access rights tell the two apart,
// and a missing group membership comes with its remedy. `text` is the system's own
// words; `device` is the path that was opened, for naming the program that holds a
// busy port.
std::string open_failure_reason(OpenError error, const std::string& text,
                                const DeviceAccess& access, const std::string& device = {});

// The reason given for a port that another open of the same device holds, naming that
// program where the system shows it.
std::string device_busy_reason(const std::string& device);

// The reason given for a port kept by a lock file that this user may not remove.
std::string stale_lock_reason(const StaleLock& lock);

// What the operator is told of a stale lock file removed by an open that then succeeded:
// nothing for one whose process ended, whose number no program runs now.
std::string stale_lock_notice(const StaleLock& lock);
