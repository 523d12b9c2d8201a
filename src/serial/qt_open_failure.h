#pragma once

#include <QSerialPort>
#include <string>

#include "serial/open_failure.h"

// The words for a failed open, from QSerialPort's error and its text.
std::string open_failure_reason(QSerialPort::SerialPortError error, const std::string& qt_text,
                                const DeviceAccess& access, const std::string& device = {});
