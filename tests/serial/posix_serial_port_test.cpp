// The POSIX line with the test holding the board's end of the terminal, on the poll()
// loop and on Qt's: how it opens and locks the device, takes answers in, and keeps a
// device that goes away.
#include "serial/posix_serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "com_link.h"
#include "loop/posix_event_wait.h"
#include "loop/qt_descriptor_loop.h"
#include "loop/qt_event_wait.h"
#include "pseudo_terminal.h"
#include "qt_events.h"
#include "serial/device_holders.h"
#include "serial/serial_lock_file.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// The loops a port runs on, each with the wait that runs it: relayctl's and the Qt programs'.
struct Loop {
  DescriptorLoop& loop;
  EventWait& wait;
};
Loop loop_named(const std::string& name) {
  static PosixEventWait poll_wait;
  static QtEventWait qt_wait;
  if (name == "poll") return {EventLoop::program(), poll_wait};
  start_qt();
  return {QtDescriptorLoop::program(), qt_wait};
}

std::string file_text(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

class PosixLine : public ::testing::TestWithParam<std::string> {
 protected:
  PosixLine() {
    std::filesystem::create_directories(folder);
    plug_in();
  }
  ~PosixLine() override {
    port.close();
    link.reset();
    std::filesystem::remove_all(folder);
  }

  // A new terminal behind com1, as when an adapter is plugged in.
  void plug_in() {
    std::string error;
    terminal = PseudoTerminal::create(error);
    ASSERT_TRUE(terminal) << error;
    link.reset();
    link = ComLink::create(folder, 1, terminal->slave_path(), error);
    ASSERT_TRUE(link) << error;
  }
  void open_port() {
    port.select_port(1);
    const OpenResult result = port.open();
    ASSERT_TRUE(result.ok) << result.reason;
    port.set_receive_threshold(8);
    port.set_receive_handler([this] { ++events; });
  }
  void board_sends(const Bytes& bytes) {
    ASSERT_EQ(::write(terminal->master_fd(), bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }
  bool wait_for(const std::function<bool()>& done) {
    return runs_on.wait.wait_until(done, EventWait::Clock::now() + 15s);
  }
  Bytes read_all() {
    Bytes bytes;
    while (const auto byte = port.read_byte()) bytes.push_back(*byte);
    return bytes;
  }
  std::string lock_file() const { return serial_lock_file(terminal->slave_path()); }

  // The com<n> links' folder, one a process and loop.
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("posix_line_" + std::to_string(::getpid()) + "_" + GetParam());
  std::optional<PseudoTerminal> terminal;
  std::optional<ComLink> link;
  Loop runs_on = loop_named(GetParam());
  PosixSerialPort port{folder, runs_on.loop};
  int events = 0;
};

const Bytes answer = {0x22, 0x01, 0x00, 0x00, 0x00, 0x80, 0x00, 0xA3};

TEST_P(PosixLine, OpensRawAndLockedAndHandsOnWholeAnswers) {
  open_port();
  termios line{};
  ASSERT_EQ(::tcgetattr(terminal->held_slave_fd(), &line), 0);
  EXPECT_EQ(::cfgetispeed(&line), B9600);
  EXPECT_EQ(::cfgetospeed(&line), B9600);
  EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);

  // The lock file as the Qt programs write it: process, program, machine, its id, boot id.
  char host[HOST_NAME_MAX + 1] = {};
  ::gethostname(host, sizeof host - 1);
  const std::string program = std::filesystem::read_symlink("/proc/self/exe").filename();
  EXPECT_EQ(file_text(lock_file()), std::to_string(::getpid()) + "\n" + program + "\n" +
                                        std::string(host) + "\n" + file_text("/etc/machine-id") +
                                        file_text("/proc/sys/kernel/random/boot_id"));
  // Another open of the device, even this program's own, finds it held.
  PosixSerialPort second(folder, runs_on.loop);
  second.select_device(terminal->slave_path());
  EXPECT_EQ(second.open().reason, "Device busy: another program is using the port");

  // Half an answer is no receive event; the rest makes one, and the bytes come in order.
  board_sends({answer.begin(), answer.begin() + 4});
  ASSERT_TRUE(wait_for([&] { return port.bytes_waiting() == 4; }));
  EXPECT_EQ(events, 0);
  board_sends({answer.begin() + 4, answer.end()});
  ASSERT_TRUE(wait_for([&] { return events == 1; }));
  EXPECT_EQ(read_all(), answer);
  // A request drops what waits, and is on the board's end byte for byte.
  board_sends({0xA1, 0xA2});
  ASSERT_TRUE(wait_for([&] { return port.bytes_waiting() == 2; }));
  port.discard_input();
  EXPECT_EQ(port.bytes_waiting(), 0u);
  const Bytes request = {0x55, 0x01, 0x10, 0x00, 0x00, 0x00, 0x00, 0x66};
  port.write(request);
  Bytes sent(16);
  ASSERT_TRUE(wait_for([&] { return ::read(terminal->master_fd(), sent.data(), 16) == 8; }));
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 8), request);

  port.close();
  EXPECT_FALSE(std::filesystem::exists(lock_file()));
  EXPECT_TRUE(second.open().ok) << "the close left the device held";
}

TEST_P(PosixLine, ALostDeviceIsReleasedAndOpenedAgainOnceItIsBack) {
  open_port();
  const std::string first_lock = lock_file();
  terminal.reset();  // the adapter pulled out
  ASSERT_TRUE(wait_for([&] { return port.device_lost(); }));
  EXPECT_TRUE(port.is_open());
  EXPECT_FALSE(std::filesystem::exists(first_lock));
  port.write(answer);  // dropped, not an error
  EXPECT_EQ(port.bytes_waiting(), 0u);

  plug_in();
  ASSERT_TRUE(wait_for([&] { return !port.device_lost(); }));
  EXPECT_TRUE(std::filesystem::exists(lock_file()));
  port.discard_input();
  board_sends(answer);
  ASSERT_TRUE(wait_for([&] { return events == 1; }));
  EXPECT_EQ(read_all(), answer);
}

// Anyone may write a lock file into the lock folders: only one whose process has the
// device open keeps the port; any other is taken as stale, removed, and named.
TEST_P(PosixLine, OnlyALockWhoseProcessHoldsTheDeviceKeepsThePort) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const auto start = [&](bool holds) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      PosixSerialPort line(folder);  // as a second relayctl would
      line.select_port(1);
      if (holds && ::write(ready[1], line.open().ok ? "!" : "?", 1) == 1) ::pause();
      ::_exit(0);
    }
    return pid;
  };
  const pid_t ended = start(false);
  ::waitpid(ended, nullptr, 0);
  const auto idle = [](pid_t pid) {
    return "was left by process " + std::to_string(pid) + " (" + process_name(pid) +
           "), which does not have the device open";
  };
  const pid_t other = ::getppid();  // runs, under another name, without the device
  const struct {
    std::string text;  // the lock file's
    std::string why;   // the notice's words on it; none for a crash's leftover
  } rows[] = {
      {"1\n", ::geteuid() == 0 ? idle(1)
                               : "names process 1, the system's first, which keeps no serial line"},
      {std::to_string(other) + "\n", idle(other)},
      {"      " + std::to_string(other) + " minicom root\n", idle(other)},
      {std::to_string(ended) + "\nrelay_panel\n", ""},
      {"garbage\n", "names no process"},
      {"", "names no process"},
      {std::to_string(other) + "\nminicom\nelsewhere.example\n",
       "was left by process " + std::to_string(other) +
           " on another machine, elsewhere.example, which cannot be asked from here"},
  };
  const std::string lock = lock_file();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    std::ofstream(lock) << row.text;
    port.select_port(1);
    const OpenResult result = port.open();
    ASSERT_TRUE(result.ok) << result.reason;
    const std::string shown = std::filesystem::weakly_canonical(lock).string();
    EXPECT_EQ(result.notice, row.why.empty() ? ""
                                             : "the lock file " + shown + " " + row.why +
                                                   "; it was taken as stale and removed");
    EXPECT_EQ(file_text(lock).substr(0, file_text(lock).find('\n')), std::to_string(::getpid()));
    port.close();
  }

  // A process of this program holding the line: its lock is honoured and left alone.
  const pid_t holder = start(true);
  char opened = 0;
  ASSERT_EQ(::read(ready[0], &opened, 1), 1);
  ASSERT_EQ(opened, '!');
  const std::string kept = file_text(lock);
  port.select_port(1);
  const OpenResult busy = port.open();
  EXPECT_FALSE(busy.ok);
  EXPECT_EQ(busy.reason, "Device busy: " + process_name(holder) + " (process " +
                             std::to_string(holder) + ") is using the port");
  EXPECT_EQ(file_text(lock), kept);
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
}

INSTANTIATE_TEST_SUITE_P(Loops, PosixLine, ::testing::Values("poll", "qt"));

// Timers fire in the order they are due, a repeating one without a burst after a stall,
// and a handler may stop a timer that is due in the same pass.
TEST_P(PosixLine, TimersFireInOrderAndAStoppedOneStaysSilent) {
  DescriptorLoop& loop = runs_on.loop;
  std::vector<std::string> fired;
  DescriptorLoop::Id late = 0;
  loop.start_timer(20ms, [&] { fired.push_back("20 ms"); });
  const DescriptorLoop::Id tick = loop.start_timer(
      5ms, [&] { fired.push_back("tick"); }, 5ms);
  loop.start_timer(0ms, [&] {
    fired.push_back("posted");
    loop.stop_timer(late);
  });
  late = loop.start_timer(0ms, [&] { fired.push_back("stopped"); });
  ASSERT_TRUE(
      runs_on.wait.wait_until([&] { return std::count(fired.begin(), fired.end(), "20 ms") > 0; },
                              EventWait::Clock::now() + 15s));
  loop.stop_timer(tick);
  ASSERT_GE(fired.size(), 3u);
  EXPECT_EQ(fired.front(), "posted");
  // Whatever the machine's load, a 5 ms tick fires at most four times in 20 ms.
  EXPECT_LE(std::count(fired.begin(), fired.end(), "tick"), 4);
  EXPECT_EQ(std::count(fired.begin(), fired.end(), "stopped"), 0);
}

}  // namespace
