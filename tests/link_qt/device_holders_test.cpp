// Which program a busy port's message names, from a process table laid out as /proc
// lays it out.
#include "link_qt/device_holders.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class ProcessTable : public ::testing::Test {
 protected:
  ProcessTable() {
    fs::create_directories(proc() / "1");
    std::ofstream created(device());
    fs::create_directory_symlink(proc() / "1", proc() / "self");
  }
  fs::path root() const { return temp.path().toStdString(); }
  fs::path proc() const { return root() / "proc"; }
  std::string device() const { return (root() / "ttyUSB0").string(); }

  // A process with the file open as descriptor `fd`, holding a lock on it or not.
  void process(int pid, const std::string& name, int fd, const fs::path& file, bool locked) {
    const fs::path dir = proc() / std::to_string(pid);
    fs::create_directories(dir / "fd");
    fs::create_directories(dir / "fdinfo");
    std::ofstream(dir / "comm") << name << "\n";
    fs::create_symlink(file, dir / "fd" / std::to_string(fd));
    std::ofstream info(dir / "fdinfo" / std::to_string(fd));
    info << "pos:\t0\nflags:\t0100002\nmnt_id:\t25\nino:\t6\n";
    if (locked) info << "lock:\t1: FLOCK  ADVISORY  WRITE " << pid << " 00:19:6 0 EOF\n";
  }

  QTemporaryDir temp;
};

TEST_F(ProcessTable, NamesOnlyTheProgramsHoldingTheLockOnTheDeviceItself) {
  const std::string proc_dir = proc().string();
  EXPECT_EQ(device_holders_text(device(), proc_dir), "");

  process(40, "relay_board_sim", 5, device(), false);  // its own end of the line
  EXPECT_EQ(device_holders_text(device(), proc_dir), "");
  ASSERT_EQ(device_holders(device(), proc_dir).size(), 1u);
  EXPECT_EQ(device_holders(device(), proc_dir)[0].name, "relay_board_sim");

  fs::create_symlink(device(), root() / "com1");
  process(300, "relay_panel", 17, device(), true);
  process(301, "other", 4, root() / "other_device", true);  // another device entirely
  process(1, "relayctl", 9, device(), true);                // the asking process itself
  EXPECT_EQ(device_holders_text(device(), proc_dir), "relay_panel (process 300)");
  // Asked through a link, the device is the same.
  EXPECT_EQ(device_holders_text((root() / "com1").string(), proc_dir), "relay_panel (process 300)");

  process(302, "minicom", 3, device(), true);
  EXPECT_EQ(device_holders_text(device(), proc_dir),
            "relay_panel (process 300), minicom (process 302)");
  EXPECT_EQ(device_holders_text((root() / "missing").string(), proc_dir), "");
}

}  // namespace
