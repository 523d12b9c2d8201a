#include "link/port_device.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

class PortDevice : public ::testing::Test {
 protected:
  PortDevice() {
    dir = std::filesystem::temp_directory_path() /
          ("port_device_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  ~PortDevice() override { std::filesystem::remove_all(dir); }

  std::filesystem::path dir;
};

#ifndef _WIN32
TEST_F(PortDevice, NumbersMapToTtySUnlessALinkInTheProgramFolderNamesTheDevice) {
  EXPECT_EQ(port_device(1, dir), "/dev/ttyS0");
  EXPECT_EQ(port_device(255, dir), "/dev/ttyS254");
  EXPECT_EQ(port_device(0, dir), std::nullopt);
  EXPECT_EQ(port_device(-3, dir), std::nullopt);

  // A dangling link still counts: the adapter it names may be plugged in later.
  std::filesystem::create_symlink("/dev/ttyUSB7", dir / "com1");
  EXPECT_EQ(port_device(1, dir), (dir / "com1").string());
  EXPECT_EQ(port_device(2, dir), "/dev/ttyS1");
}
#endif

}  // namespace
