// Which program a busy port's message names, from a process table laid out as /proc
// lays it out.
#include "serial/device_holders.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "serial/open_failure.h"
#include "serial/serial_lock_file.h"
#include "serial/bridge_holder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

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

// Who a readable lock file names, for a user who may not see another user's open files:
// its maker while that program runs; a process number now used by another program is
// no holder, and the lock is stale, for root and a user alike. Where the open files
// show, the lock is its process's only while that has the device open.
TEST_F(ProcessTable, ALockFileNamesItsRunningMakerAndTellsAReusedNumberApart) {
  const std::string live = std::to_string(::getppid());  // runs, and is not this process
  const pid_t ended_pid = fork();
  if (ended_pid == 0) _exit(0);
  waitpid(ended_pid, nullptr, 0);
  const std::string ended = std::to_string(ended_pid);
  const std::string folder = (root() / "lock").string();
  fs::create_directory(folder);
  const std::string lock = folder + "/LCK..ttyUSB9";
  const std::string shown_lock = fs::weakly_canonical(lock).string();
  const std::string cannot_remove = ", and this user may not remove it; remove it with \"sudo rm " +
                                    shown_lock + "\" and open the port again";
  const struct {
    // What the table shows of the live process; a device for cmdline: its open file.
    std::string comm, cmdline;
    std::string text;  // the lock file's
    std::string holder, stale;
  } rows[] = {
      {"relayboard-mqtt", "", live + "\nrelayboard-mqtt\n\n",
       "relayboard-mqtt (process " + live + ")", "none"},
      // The kernel keeps 15 bytes of a name; a program run through a link of another
      // name is known by its command line.
      {"relay_board_sim", "", live + "\nrelay_board_simulator\n",
       "relay_board_sim (process " + live + ")", "none"},
      {"bridge", "/usr/bin/relayboard-mqtt\0-c\0"s, live + "\nrelayboard-mqtt (deleted)\n",
       "bridge (process " + live + ")", "none"},
      {"", "", live + "\nrelay_panel\n", "relay_panel (process " + live + ")", "none"},
      {"sshd", "", live + "\n", "sshd (process " + live + ")", "none"},
      {"sshd", "sshd: admin\0"s, live + "\nrelay_panel\n\n", "",
       "Stale lock file: " + shown_lock + " was left by process " + live +
           " (relay_panel), which no longer runs: the number now belongs to sshd" + cannot_remove},
      {"relay_panel", "", ended + "\nrelay_panel\n\n", "",
       "Stale lock file: " + shown_lock + " was left by process " + ended +
           ", which no longer runs" + cannot_remove},
      {"sshd", "", live + "\nrelay_panel\nelsewhere.example\n", "",
       "Stale lock file: " + shown_lock + " was left by process " + live +
           " on another machine, elsewhere.example, which cannot be asked from here" +
           cannot_remove},
      // Where the table shows the process's open files, the device among them.
      {"minicom", "/dev/ttyUSB9", "      " + live + " minicom root\n",
       "minicom (process " + live + ")", "none"},
  };
  const std::string proc_dir = proc().string();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    fs::remove_all(proc() / live);
    fs::create_directories(proc() / live);
    if (!row.comm.empty()) std::ofstream(proc() / live / "comm") << row.comm << "\n";
    if (row.cmdline.starts_with("/dev/")) {
      fs::create_directories(proc() / live / "fd");
      fs::create_symlink(row.cmdline, proc() / live / "fd" / "3");
    } else {
      std::ofstream(proc() / live / "cmdline") << row.cmdline;
    }
    std::ofstream(lock) << row.text;
    EXPECT_EQ(lock_holder_text("/dev/ttyUSB9", {folder}, proc_dir), row.holder);
    const auto stale = clear_stale_lock(
        "/dev/ttyUSB9", {folder}, [](const std::string&) { return false; }, proc_dir);
    EXPECT_EQ(stale ? stale_lock_reason(*stale) : "none", row.stale);
  }
}

// The line a bridge serves, from its command line and its configuration file as the
// bridge itself reads them; a name that cannot be told is left out, never guessed.
TEST_F(ProcessTable, ABridgeHoldingThePortNamesTheLineItServes) {
  const fs::path work = root() / "work";
  fs::create_directories(work);
  std::ofstream(work / "north.conf") << "# site\nport = 4\n line = north \n";
  std::ofstream(root() / "south.conf") << "device = /dev/ttyACM1\n";
  const struct {
    std::string cmdline;
    std::string line;  // "-" for no bridge at all
  } rows[] = {
      {"/usr/bin/relayboard-mqtt\0--verbose\0--line=yard\0"s, "yard"},
      {"relayboard-mqtt\0--device\0/dev/ttyUSB0\0"s, "ttyUSB0"},
      {"relayboard-mqtt\0--port=03\0"s, "com3"},
      {"relayboard-mqtt\0"s, "com1"},
      {"relayboard-mqtt\0--config\0north.conf\0"s, "north"},
      {"relayboard-mqtt\0--config="s + (root() / "south.conf").string() + "\0"s, "ttyACM1"},
      {"relayboard-mqtt\0--config\0missing.conf\0"s, ""},
      {"relayboard-mqtt\0--line\0a\x1b[2Jb\0"s, ""},
      {"/usr/bin/relay_panel\0--line\0yard\0"s, "-"},
  };
  const std::string proc_dir = proc().string();
  const fs::path bridge = proc() / "77";
  fs::create_directories(bridge);
  fs::create_directory_symlink(work, bridge / "cwd");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.cmdline);
    std::ofstream(bridge / "cmdline", std::ios::binary) << row.cmdline;
    EXPECT_EQ(served_line(77, proc_dir).value_or("-"), row.line);
  }
}

}  // namespace
