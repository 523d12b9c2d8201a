// What the operator reads when a port will not open.
#include "link_qt/open_failure.h"

#include <gtest/gtest.h>

namespace {

DeviceAccess device(bool read_write, std::string group = "dialout", bool in_group = false,
                    bool listed = false, bool group_read_write = true) {
  DeviceAccess access;
  access.exists = true;
  access.read_write = read_write;
  access.group = std::move(group);
  access.in_group = in_group;
  access.listed_in_group = listed;
  access.group_read_write = group_read_write;
  return access;
}

TEST(OpenFailureReason, TellsMissingBusyAndForbiddenDevicesApart) {
  DeviceAccess missing;
  DeviceAccess dangling;
  dangling.link_target = "/dev/ttyUSB0";
  struct Case {
    const char* name;
    QSerialPort::SerialPortError error;
    DeviceAccess access;
    std::string qt_text;
    std::string reason;
  };
  const Case cases[] = {
      {"missing", QSerialPort::DeviceNotFoundError, missing, "No such file or directory",
       "No such device"},
      {"dangling link", QSerialPort::DeviceNotFoundError, dangling, "No such file or directory",
       "No such device (the link points to /dev/ttyUSB0, which does not exist)"},
      {"gone between open and check", QSerialPort::PermissionError, missing, "", "No such device"},
      {"held by another program", QSerialPort::PermissionError, device(true),
       "Permission error while locking the device",
       "Device busy: another program is using the port"},
      {"not in the group", QSerialPort::PermissionError, device(false), "Permission denied",
       "Permission denied: the device belongs to the group dialout, and this user is not in it; "
       "add the user with \"sudo usermod -aG dialout $USER\" and log in again"},
      {"added but not logged in again", QSerialPort::PermissionError,
       device(false, "dialout", false, true), "Permission denied",
       "Permission denied: this user was added to the group dialout after logging in; log out "
       "and in again"},
      {"group may not write", QSerialPort::PermissionError,
       device(false, "dialout", true, true, false), "Permission denied",
       "Permission denied: the device does not let its group dialout read and write it, and "
       "this user is in it"},
      {"in the group, refused all the same", QSerialPort::PermissionError,
       device(false, "dialout", true, true), "Permission denied",
       "Permission denied: this user is in the group dialout but may still not read and write "
       "the device"},
      {"owner only, not in the group", QSerialPort::PermissionError,
       device(false, "root", false, false, false), "Permission denied",
       "Permission denied: the device does not let its group root read and write it, and this "
       "user is not in it"},
      {"group without a name", QSerialPort::PermissionError, device(false, ""), "Permission denied",
       "Permission denied: this user may not read and write the device"},
      {"not a terminal", QSerialPort::UnsupportedOperationError, device(true),
       "Inappropriate ioctl for device", "Not a serial port (Inappropriate ioctl for device)"},
      {"anything else", QSerialPort::UnknownError, device(true), "Input/output error",
       "Input/output error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(open_failure_reason(c.error, c.qt_text, c.access), c.reason);
  }
}

}  // namespace
