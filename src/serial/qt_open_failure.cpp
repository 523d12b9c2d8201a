#include "serial/qt_open_failure.h"

std::string open_failure_reason(QSerialPort::SerialPortError error, const std::string& qt_text,
                                const DeviceAccess& access, const std::string& device) {
  switch (error) {
    case QSerialPort::DeviceNotFoundError:
      return open_failure_reason(OpenError::not_found, qt_text, access, device);
    case QSerialPort::PermissionError:
      return open_failure_reason(OpenError::permission, qt_text, access, device);
    case QSerialPort::UnsupportedOperationError:
      return open_failure_reason(OpenError::unsupported, qt_text, access, device);
    default:
      return open_failure_reason(OpenError::other, qt_text, access, device);
  }
}
