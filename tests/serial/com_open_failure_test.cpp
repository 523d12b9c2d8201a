#include "serial/com_open_failure.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

TEST(ComOpenFailure, TellsBusyMissingAndForbiddenPortsApart) {
  const std::string busy = "Device busy: another program is using the port";
  const struct {
    DWORD error;
    bool exists;
    std::string reason;
  } cases[] = {
      {ERROR_ACCESS_DENIED, true, busy},
      {ERROR_SHARING_VIOLATION, true, busy},
      {ERROR_ACCESS_DENIED, false,
       "Permission denied: this user may not read and write the device"},
      {ERROR_FILE_NOT_FOUND, false, "No such device. Serial ports present: COM3 COM12"},
      {ERROR_PATH_NOT_FOUND, false, "No such device. Serial ports present: COM3 COM12"},
      {ERROR_GEN_FAILURE, true, "the system's words"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(com_open_failure_reason(c.error, c.exists, {"COM3", "COM12"}, "the system's words"),
              c.reason)
        << c.error;
  }
  EXPECT_EQ(com_open_failure_reason(ERROR_GEN_FAILURE, true, {}, ""), "Unknown error");
  EXPECT_EQ(not_a_serial_port_reason("Incorrect function"),
            "Not a serial port (Incorrect function)");
}

}  // namespace
