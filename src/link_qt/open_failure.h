#pragma once

#include <QSerialPort>
#include <string>

#include "link_qt/serial_lock_file.h"
#include "link_qt/serial_platform.h"

// Why a port could not be opened, in words for the operator. QSerialPort reports a
// port held by another program (its lock file, or the line's exclusive mode) and a
// device this user may not use both as a permission error; the device's access
// rights tell the two apart, and a missing group membership comes with its remedy.
// `device` is the path that was opened, for naming the program that holds a busy port.
std::string open_failure_reason(QSerialPort::SerialPortError error, const std::string& qt_text,
                                const DeviceAccess& access, const std::string& device = {});

// The reason given for a port that another open of the same device holds, naming that
// program where the system shows it.
std::string device_busy_reason(const std::string& device);

// The reason given for a port kept by a lock file that this user may not remove.
std::string stale_lock_reason(const StaleLock& lock);
