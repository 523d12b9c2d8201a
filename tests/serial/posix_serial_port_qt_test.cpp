// The serial line on Qt's event loop, as the panel and the bridge run it, with the test
// holding the board's end of the terminal, and what the operator reads when a port will
// not open.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <fstream>
#include <functional>
#include <numeric>
#include <tuple>
#include <vector>

#include "com_link.h"
#include "loop/qt_descriptor_loop.h"
#include "panel_link.h"
#include "protocol/status_frame.h"
#include "pseudo_terminal.h"
#include "serial/open_failure.h"
#include "serial/posix_serial_port.h"
#include "serial/present_devices.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A process number that no longer runs: a child's that has ended.
pid_t ended_process() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

std::string first_line(const std::string& path) {
  std::string line;
  std::getline(std::ifstream(path), line);
  return line;
}

class LineOnTerminal : public ::testing::Test {
 protected:
  LineOnTerminal() {
    start_qt();
    std::string error;
    terminal = PseudoTerminal::create(error);
    if (!terminal) ADD_FAILURE() << error;
    link = ComLink::create(dir(), 1, terminal->slave_path(), error);
  }

  std::filesystem::path dir() const { return temp.path().toStdString(); }

  // The port opened with the panel's threshold, counting its receive events.
  void open_port() {
    port.select_port(1);
    const OpenResult result = port.open();
    ASSERT_TRUE(result.ok) << result.reason;
    EXPECT_EQ(result.device, (dir() / "com1").string());
    port.set_receive_threshold(8);
    port.set_receive_handler([this] { ++events; });
  }
  void board_sends(const Bytes& bytes) {
    ASSERT_EQ(::write(terminal->master_fd(), bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }
  // Waits until the terminal holds `count` bytes for the panel's end that the port has not
  // taken in yet (the event loop does not run meanwhile, so the port reads nothing).
  ::testing::AssertionResult line_holds(int count) {
    const int fd = terminal->held_slave_fd();
    const QDeadlineTimer deadline(15000);
    int waiting = -1;
    while (::ioctl(fd, FIONREAD, &waiting) != 0 || waiting != count) {
      if (deadline.hasExpired()) {
        return ::testing::AssertionFailure() << waiting << " bytes wait on the line";
      }
      // Woken as soon as the board's bytes reach the panel's end of the terminal.
      pollfd line{fd, POLLIN, 0};
      ::poll(&line, 1, waiting > 0 ? 1 : static_cast<int>(deadline.remainingTime()));
    }
    return ::testing::AssertionSuccess();
  }
  // Lets every event that is already due run, as one pass of the panel's loop would.
  static void run_due_events() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
  Bytes read_all() {
    Bytes bytes;
    while (const auto byte = port.read_byte()) bytes.push_back(*byte);
    return bytes;
  }

  QTemporaryDir temp;
  std::optional<PseudoTerminal> terminal;
  std::optional<ComLink> link;
  PosixSerialPort port{dir(), QtDescriptorLoop::program()};
  int events = 0;  // receive events so far
};

TEST_F(LineOnTerminal, OpensAt9600Baud8N1RawWithoutFlowControl) {
  open_port();
  termios line{};
  ASSERT_EQ(tcgetattr(terminal->held_slave_fd(), &line), 0);
  EXPECT_EQ(cfgetispeed(&line), B9600);
  EXPECT_EQ(cfgetospeed(&line), B9600);
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
}

TEST_F(LineOnTerminal, ReceiveEventWaitsForEightBytesAndEveryByteValuePasses) {
  open_port();
  Bytes expected = {0x0D, 0x0A, 0x00, 0x11, 0x13};  // CR LF NUL XON XOFF: nothing translated
  board_sends(expected);
  ASSERT_TRUE(wait_until([&] { return port.bytes_waiting() == expected.size(); }));
  run_due_events();
  EXPECT_EQ(events, 0) << "event before eight bytes waited";

  Bytes all_values(256);
  std::iota(all_values.begin(), all_values.end(), 0);
  board_sends(all_values);
  ASSERT_TRUE(wait_until([&] { return events > 0; }));

  // The rest may still be arriving; read it as it comes, one byte per read.
  expected.insert(expected.end(), all_values.begin(), all_values.end());
  Bytes got;
  wait_until([&] {
    const Bytes more = read_all();
    got.insert(got.end(), more.begin(), more.end());
    return got.size() >= expected.size();
  });
  EXPECT_EQ(got, expected);
  EXPECT_EQ(port.read_byte(), std::nullopt);
}

TEST_F(LineOnTerminal, DiscardDropsWhatWaitsButKeepsWhatComesAfter) {
  open_port();
  board_sends({0xA1, 0xA2, 0xA3, 0xA4});
  ASSERT_TRUE(wait_until([&] { return port.bytes_waiting() == 4; }));  // taken in by the port
  board_sends({0xB1, 0xB2, 0xB3});
  ASSERT_TRUE(line_holds(3));  // these still wait in the terminal
  port.discard_input();

  const Bytes answer = {0x22, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x23};
  board_sends(answer);
  ASSERT_TRUE(wait_until([&] { return events > 0; }));
  EXPECT_EQ(read_all(), answer);
}

TEST_F(LineOnTerminal, AFloodBetweenRequestsIsHeldAtTheBoundAndTheNextAnswerStillComes) {
  open_port();
  // The board pours bytes in as fast as the terminal takes them; the port may take in
  // only its bound, then the terminal fills and refuses more.
  const Bytes flood(64 * 1024, 0x22);
  const auto bound = PosixSerialPort::read_buffer_bound;
  std::size_t poured = 0, most_waiting = 0;
  EXPECT_TRUE(wait_until([&] {
    const ssize_t written = ::write(terminal->master_fd(), flood.data(), flood.size());
    poured += static_cast<std::size_t>(std::max<ssize_t>(written, 0));
    run_due_events();
    most_waiting = std::max(most_waiting, port.bytes_waiting());
    return (written < 0 && port.bytes_waiting() == bound) || poured > 16 * flood.size();
  })) << poured
      << " bytes taken in";
  EXPECT_EQ(most_waiting, bound);

  port.discard_input();
  EXPECT_EQ(port.bytes_waiting(), 0u);
  const Bytes answer = {0x22, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x23};
  board_sends(answer);
  ASSERT_TRUE(wait_until([&] { return port.bytes_waiting() == answer.size(); }));
  EXPECT_EQ(read_all(), answer);
}

TEST_F(LineOnTerminal, ALockFileLeftByAnEndedProgramIsTakenOverAndGoesWithTheClose) {
  const std::string lock = serial_lock_file(terminal->slave_path());
  ASSERT_FALSE(lock.empty());
  // As other serial programs write it: process number, program, machine.
  std::ofstream(lock) << ended_process() << "\nrelay_panel\n\n";
  open_port();
  EXPECT_EQ(first_line(lock), std::to_string(::getpid()));
  port.close();
  EXPECT_FALSE(std::filesystem::exists(lock));
}

// A FIFO or a link put in the lock file's place (the lock folders are open to every user)
// refuses the open at once and says so, where the port's own lock would wait on it.
TEST_F(LineOnTerminal, ALockFileThatIsNoFileRefusesTheOpenAtOnce) {
  const std::string lock = serial_lock_file(terminal->slave_path());
  ASSERT_FALSE(lock.empty());
  const std::pair<std::string, std::function<void()>> cases[] = {
      {"a FIFO", [&] { ::mkfifo(lock.c_str(), 0666); }},
      {"a symbolic link", [&] { std::filesystem::create_symlink("/dev/null", lock); }},
  };
  for (const auto& [kind, plant] : cases) {
    SCOPED_TRACE(kind);
    // A bridge killed by an earlier test may have left this terminal number's lock: a
    // stale lock, which the open would take over instead of meeting what is planted.
    std::filesystem::remove(lock);
    plant();
    port.select_port(1);
    const OpenResult result = port.open();
    std::filesystem::remove(lock);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, "its lock file " + lock + " is " + kind +
                                 ", not a file that a serial program makes; whoever put it there "
                                 "can remove it");
  }
}

// Whether a lock file is stale, and what the operator reads when it may not be removed.
TEST(StaleLock, AFileThatKeepsNoLineIsRemovedAndOneThatMayNotBeIsNamed) {
  QTemporaryDir folder;
  const std::string lock = folder.filePath("LCK..ttyUSB9").toStdString();
  const std::string ended = std::to_string(ended_process());
  // The lock file's text (none: no file), whether this user may remove it, the outcome.
  const std::tuple<std::string, bool, std::string> cases[] = {
      {ended + "\nrelay_panel\n\n", true, "removed"},
      {ended + "\nrelay_panel\n\n", false,
       "Stale lock file: " + lock + " was left by process " + ended +
           ", which no longer runs, and this user may not remove it; remove it with \"sudo rm " +
           lock + "\" and open the port again"},
      // Running processes that do not have the device open keep nothing.
      {std::to_string(::getpid()) + "\n", true, "removed"},
      {"1\n", true, "removed"},
      {ended + "\nrelay_panel\nelsewhere.example\n", true, "removed"},
      {"", true, "none"},
  };
  for (const auto& [text, may_remove, outcome] : cases) {
    SCOPED_TRACE(text);
    std::filesystem::remove(lock);
    if (!text.empty()) std::ofstream(lock) << text;
    const auto found = clear_stale_lock(
        "/dev/ttyUSB9", {folder.path().toStdString()},
        [&](const std::string& path) { return may_remove && std::filesystem::remove(path); });
    EXPECT_EQ(!found ? "none" : found->removed ? "removed" : stale_lock_reason(*found), outcome);
    EXPECT_EQ(std::filesystem::exists(lock), !text.empty() && outcome != "removed");
  }
}

TEST_F(LineOnTerminal, CloseDropsWaitingBytesAndNoEventFollows) {
  open_port();
  board_sends({0x22, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x23});
  ASSERT_TRUE(line_holds(8));
  port.close();
  EXPECT_FALSE(port.is_open());
  run_due_events();
  EXPECT_EQ(events, 0);
  // A late answer that reaches the line while the port is closed is no news either.
  board_sends({0x22, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x21});
  ASSERT_TRUE(line_holds(8));

  port.select_port(1);
  ASSERT_TRUE(port.open().ok);
  EXPECT_TRUE(line_holds(0));
  run_due_events();
  EXPECT_EQ(port.read_byte(), std::nullopt) << "a byte from before the open was read";
  EXPECT_EQ(events, 0);
}

TEST_F(LineOnTerminal, StrayByteCostsOneFrameAndTheNextRequestRecovers) {
  PanelLink panel(dir());
  // The test is the board: its first answer (relay 1 opened) comes after a stray 00 byte,
  // every later one (relay 16 opened) alone.
  Bytes requests;
  int answers = 0;
  QSocketNotifier board(terminal->master_fd(), QSocketNotifier::Read);
  QObject::connect(&board, &QSocketNotifier::activated, [&] {
    std::uint8_t buffer[64];
    const ssize_t got = ::read(terminal->master_fd(), buffer, sizeof buffer);
    if (got > 0) requests.insert(requests.end(), buffer, buffer + got);
    for (; requests.size() >= 8; requests.erase(requests.begin(), requests.begin() + 8)) {
      const StatusFrame frame = StatusFrame::build(answers == 0 ? 0x0001 : 0x8000, 1);
      Bytes answer(frame.bytes.begin(), frame.bytes.end());
      if (answers++ == 0) answer.insert(answer.begin(), std::uint8_t{0x00});
      board_sends(answer);
    }
  });

  panel.click_open_comm();
  ASSERT_TRUE(wait_until([&] { return panel.received.size() >= 2; }));
  using Slots = std::array<std::int32_t, 8>;
  EXPECT_EQ(panel.received[0], (Slots{0x00, 0x22, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}));
  // Had the left-over checksum byte survived the next request, this would start with it.
  EXPECT_EQ(panel.received[1], (Slots{0x22, 0x01, 0x00, 0x00, 0x00, 0x80, 0x00, 0xA3}));
  EXPECT_EQ(panel.indicators.states[15], IndicatorState::Opened);
  EXPECT_EQ(panel.count(IndicatorState::Closed), 15);
  for (const auto& [relay, state] : panel.indicators.paints) {
    EXPECT_FALSE(relay == 1 && state == IndicatorState::Opened) << "the misaligned frame painted";
  }
}

TEST_F(LineOnTerminal, FailedOpensNameTheDeviceAndWhy) {
  std::filesystem::create_symlink("/nonexistent/ttyUSB0", dir() / "com2");
  std::filesystem::create_symlink("/dev/null", dir() / "com3");
  // A socket is there, but no device is behind it: the system's words, not a missing device.
  const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = (dir() / "socket").string();
  socket_path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  std::filesystem::create_symlink(socket_path, dir() / "com4");
  struct Case {
    std::int16_t number;
    std::string device;
    std::string reason;
  };
  const Case cases[] = {
      {0, "", "no port has this number"},
      {2, (dir() / "com2").string(),
       "No such device (the link points to /nonexistent/ttyUSB0, which does not exist)"},
      {3, (dir() / "com3").string(), "Not a serial port (Inappropriate ioctl for device)"},
      {4, (dir() / "com4").string(), "No such device or address"},
      {200, "/dev/ttyS199", "No such device"},
  };
  // A missing device comes with the devices this machine has, and how to link one.
  const auto advice = [&](int number) {
    return missing_device_advice(number, present_serial_devices("/dev", serial_line_answers),
                                 dir());
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    port.select_port(c.number);
    const OpenResult result = port.open();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.device, c.device);
    const bool missing =
        c.reason.starts_with("No such device") && !std::filesystem::exists(c.device);
    EXPECT_EQ(result.reason, c.reason + (missing ? advice(c.number) : ""));
    EXPECT_FALSE(port.is_open());
  }
  ::close(socket);
  // A failed open leaves the port ready for the next try.
  open_port();
}

// The cases a device under test cannot easily be put in: forbidden, or gone meanwhile.
TEST(OpenFailureReason, TellsBusyAndForbiddenDevicesApart) {
  const auto device = [](bool read_write, std::string group = "dialout", bool in_group = false,
                         bool listed = false, bool group_read_write = true) {
    DeviceAccess access;
    access.exists = true;
    access.read_write = read_write;
    access.group = std::move(group);
    access.in_group = in_group;
    access.listed_in_group = listed;
    access.group_read_write = group_read_write;
    return access;
  };
  struct Case {
    const char* name;
    OpenError error;
    DeviceAccess access;
    std::string text;
    std::string reason;
  };
  const Case cases[] = {
      {"gone between open and check", OpenError::permission, DeviceAccess{}, "", "No such device"},
      {"not in the group", OpenError::permission, device(false), "Permission denied",
       "Permission denied: the device belongs to the group dialout, and this user is not in it; "
       "add the user with \"sudo usermod -aG dialout $USER\" and log in again"},
      {"added but not logged in again", OpenError::permission,
       device(false, "dialout", false, true), "Permission denied",
       "Permission denied: this user was added to the group dialout after logging in; log out "
       "and in again"},
      {"group may not write", OpenError::permission, device(false, "dialout", true, true, false),
       "Permission denied",
       "Permission denied: the device does not let its group dialout read and write it, and "
       "this user is in it"},
      {"in the group, refused all the same", OpenError::permission,
       device(false, "dialout", true, true), "Permission denied",
       "Permission denied: this user is in the group dialout but may still not read and write "
       "the device"},
      {"owner only, not in the group", OpenError::permission,
       device(false, "root", false, false, false), "Permission denied",
       "Permission denied: the device does not let its group root read and write it, and this "
       "user is not in it"},
      {"group without a name", OpenError::permission, device(false, ""), "Permission denied",
       "Permission denied: this user may not read and write the device"},
      {"anything else", OpenError::other, device(true), "Input/output error", "Input/output error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(open_failure_reason(c.error, c.text, c.access), c.reason);
  }
}

}  // namespace
