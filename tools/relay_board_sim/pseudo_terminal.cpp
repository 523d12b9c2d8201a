#include "pseudo_terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

std::optional<PseudoTerminal> PseudoTerminal::create(std::string& error) {
  const auto fail = [&](const char* what) {
    error = std::string(what) + ": " + std::strerror(errno);
    return std::nullopt;
  };
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0) return fail("posix_openpt");
  // From here the terminal owns the descriptors, also on the failure paths.
  PseudoTerminal terminal(master, -1, {});
  if (grantpt(master) != 0) return fail("grantpt");
  if (unlockpt(master) != 0) return fail("unlockpt");
  char name[128] = {};
  if (ptsname_r(master, name, sizeof name) != 0) return fail("ptsname_r");
  terminal.slave_path_ = name;
  terminal.slave_fd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (terminal.slave_fd_ < 0) return fail(name);

  // Raw bytes both ways: no echo of the panel's frames, no CR/LF translation, every
  // byte value passes.
  termios settings{};
  if (tcgetattr(terminal.slave_fd_, &settings) != 0) return fail("tcgetattr");
  cfmakeraw(&settings);
  cfsetispeed(&settings, B9600);
  cfsetospeed(&settings, B9600);
  if (tcsetattr(terminal.slave_fd_, TCSANOW, &settings) != 0) return fail("tcsetattr");
  return terminal;
}

PseudoTerminal::PseudoTerminal(PseudoTerminal&& other) noexcept
    : master_fd_(std::exchange(other.master_fd_, -1)),
      slave_fd_(std::exchange(other.slave_fd_, -1)),
      slave_path_(std::move(other.slave_path_)) {}

PseudoTerminal& PseudoTerminal::operator=(PseudoTerminal&& other) noexcept {
  if (this != &other) {
    release();
    master_fd_ = std::exchange(other.master_fd_, -1);
    slave_fd_ = std::exchange(other.slave_fd_, -1);
    slave_path_ = std::move(other.slave_path_);
  }
  return *this;
}

PseudoTerminal::~PseudoTerminal() {
  release();
}

void PseudoTerminal::release() {
  if (slave_fd_ >= 0) ::close(slave_fd_);
  if (master_fd_ >= 0) ::close(master_fd_);
  slave_fd_ = master_fd_ = -1;
}
