#include "serial/posix_serial_port.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "serial/open_failure.h"
#include "serial/port_open.h"
#include "serial/serial_lock_file.h"
#include "serial/serial_platform.h"

namespace {

// 9600 baud, 8 data bits, no parity, one stop bit, no flow control, raw bytes; reads
// never wait.
bool set_line(int fd, const termios& saved) {
  termios line = saved;
  ::cfmakeraw(&line);
  line.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
  line.c_cflag |= CS8 | CLOCAL | CREAD;
  line.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  line.c_cc[VMIN] = 0;
  line.c_cc[VTIME] = 0;
  return ::cfsetispeed(&line, B9600) == 0 && ::cfsetospeed(&line, B9600) == 0 &&
         ::tcsetattr(fd, TCSANOW, &line) == 0;
}

// A path that names something without a device behind it (a socket, a device whose
// driver is gone) is told in the system's own words, not as a missing device.
OpenError open_error(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
      return OpenError::not_found;
    case EACCES:
    case EPERM:
    case EBUSY:
      return OpenError::permission;
    case ENOTTY:
    case EINVAL:
      return OpenError::unsupported;
    default:
      return OpenError::other;
  }
}

}  // namespace

// An empty folder stays empty: the port then has no folder of links at all, not the
// current one.
PosixSerialPort::PosixSerialPort(const std::filesystem::path& program_dir, DescriptorLoop& loop)
    : loop_(loop),
      program_dir_(program_dir.empty() ? program_dir : std::filesystem::absolute(program_dir)) {}

PosixSerialPort::~PosixSerialPort() {
  close();
}

OpenResult PosixSerialPort::open() {
  open_notice_.clear();
  OpenResult result =
      open_selected_device(number_, named_device_, program_dir_, open_,
                           [this](const std::string& device) { return open_line(device); });
  if (!result.ok) return result;
  result.notice = std::move(open_notice_);
  device_ = result.device;
  open_ = true;
  return result;
}

std::optional<std::string> PosixSerialPort::open_line(const std::string& device, bool again) {
  // Locked by the device's own name, not by that of one link to it.
  const std::string node = device_node(device);
  if (auto refusal = lock_file_refusal(node)) return refusal;
  switch (lock_file_.take(node)) {
    case LineLockFile::Outcome::held:
      return refused(EBUSY, device, again);
    case LineLockFile::Outcome::failed:
      return refused(errno, device, true);
    case LineLockFile::Outcome::taken:
      break;
  }
  fd_ = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    const int error = errno;
    lock_file_.release();
    return refused(error, device, true);
  }
  // Exclusive mode keeps everyone but root out; the lock on the device holds against
  // root too.
  if (::ioctl(fd_, TIOCEXCL) != 0 || ::tcgetattr(fd_, &saved_) != 0 || !set_line(fd_, saved_)) {
    const int error = errno;
    release_line();
    return refused(error, device, true);
  }
  if (!lock_line(fd_)) {
    release_line();
    return device_busy_reason(device);
  }
  // A line without modem control (a pseudo-terminal) refuses these; the board does not
  // need them, so that is no reason to fail.
  const int dtr = TIOCM_DTR;
  const int rts = TIOCM_RTS;
  ::ioctl(fd_, TIOCMBIS, &dtr);
  ::ioctl(fd_, TIOCMBIC, &rts);
  // Whatever reached the line while it was closed is stale.
  ::tcflush(fd_, TCIFLUSH);
  watch_ = loop_.watch(fd_, POLLIN, [this](short) {
    if (line_usable()) take_input();
  });
  return std::nullopt;
}

std::optional<std::string> PosixSerialPort::refused(int error, const std::string& device,
                                                    bool again) {
  const OpenError kind = open_error(error);
  const DeviceAccess access = probe_device_access(device);
  // A lock file that keeps nobody's line does not make the port busy.
  if (kind == OpenError::permission && access.read_write && !again) {
    if (const auto lock = clear_stale_lock(device_node(device))) {
      if (lock->removed) {
        open_notice_ = stale_lock_notice(*lock);
        return open_line(device, true);
      }
      return stale_lock_reason(*lock);
    }
  }
  return open_failure_reason(kind, std::strerror(error), access, device);
}

void PosixSerialPort::release_line() {
  if (watch_) loop_.unwatch(*watch_);
  watch_.reset();
  if (fd_ >= 0) {
    ::tcsetattr(fd_, TCSANOW, &saved_);
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
  }
  fd_ = -1;
  lock_file_.release();
}

void PosixSerialPort::close() {
  if (fd_ >= 0) ::tcflush(fd_, TCIFLUSH);
  release_line();
  if (reopen_timer_) loop_.stop_timer(*reopen_timer_);
  reopen_timer_.reset();
  input_.clear();
  open_ = false;
}

void PosixSerialPort::watch_input(bool on) {
  if (watch_) loop_.set_events(*watch_, on ? POLLIN : 0);
}

bool PosixSerialPort::takes_input_as_it_comes() const {
  return watch_ && loop_.events(*watch_) != 0;
}

void PosixSerialPort::discard_input() {
  if (!line_usable()) return;
  input_.clear();
  // A hung-up line or a full input stops the watch; each request watches it again, so
  // that a lasting fault costs one try a request, not a busy loop.
  watch_input(true);
  ::tcflush(fd_, TCIFLUSH);
}

void PosixSerialPort::write(std::span<const std::uint8_t> bytes) {
  if (!line_usable()) return;
  watch_input(true);
  std::size_t written = write_line(fd_, bytes);
  // A request is a few bytes: a full output queue drains within a character or two.
  for (int tries = 0; written < bytes.size() && tries < 100; ++tries) {
    pollfd room{fd_, POLLOUT, 0};
    if (::poll(&room, 1, 10) < 0 && errno != EINTR) break;
    written += write_line(fd_, bytes.subspan(written));
  }
}

std::optional<std::uint8_t> PosixSerialPort::read_byte() {
  if (!line_usable() || input_.empty()) return std::nullopt;
  const std::uint8_t byte = input_.front();
  input_.pop_front();
  return byte;
}

void PosixSerialPort::take_input() {
  std::array<std::uint8_t, 512> buffer{};
  const std::size_t room =
      std::min(buffer.size(), read_buffer_bound - std::min(input_.size(), read_buffer_bound));
  if (room == 0) {
    watch_input(false);
    return;
  }
  const LineRead got = read_line(fd_, std::span(buffer.data(), room));
  if (got.state == LineState::HungUp) {
    if (device_gone(fd_, device_)) {
      lose_device();
    } else {
      watch_input(false);  // until the next request
    }
    return;
  }
  input_.insert(input_.end(), buffer.begin(), buffer.begin() + static_cast<long>(got.count));
  // Beyond the bound the bytes wait in the driver until the next request drops them.
  if (input_.size() >= read_buffer_bound) watch_input(false);
  if (got.count == 0 || !handler_ || input_.size() < static_cast<std::size_t>(threshold_)) return;
  handler_();
}

void PosixSerialPort::lose_device() {
  if (device_lost()) return;
  input_.clear();
  release_line();
  reopen_timer_ = loop_.start_timer(
      reopen_interval, [this] { look_for_device(); }, reopen_interval);
}

void PosixSerialPort::look_for_device() {
  // Not back yet: the next look is a second away.
  if (!device_present(device_) || open_line(device_)) return;
  loop_.stop_timer(*reopen_timer_);
  reopen_timer_.reset();
}
