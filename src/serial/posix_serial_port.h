#pragma once

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "loop/descriptor_loop.h"
#include "loop/event_loop.h"
#include "serial/line_lock_file.h"
#include "serial/serial_port.h"

// The serial line on the terminal interface, for every POSIX program: on the poll() loop
// (relayctl) or on Qt's (the panel, the bridge). The port number maps to a device through
// port_device (the com<n> link in the program's folder, or the system's device). The line
// is locked as every serial program expects: a lock file, the line's exclusive mode, and
// a lock on the device itself that holds against root too.
//
// The line is kept whatever the board's timing and however long the host stalls: only a
// device that is really gone (hung up, an I/O error, its device file vanished) is
// released. It is released at once, so that the dead line cannot keep the event loop
// busy, but the port still counts as open: frames are dropped and the watchdog shows the
// relays unknown. About once a second the port then looks for the device at the same
// path and, once it is back (a USB adapter plugged in again), opens it with the same
// settings, and the poll goes on.
class PosixSerialPort : public SerialPort {
 public:
  explicit PosixSerialPort(const std::filesystem::path& program_dir,
                           DescriptorLoop& loop = EventLoop::program());
  ~PosixSerialPort() override;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  bool is_open() const override { return open_; }
  void discard_input() override;
  void write(std::span<const std::uint8_t> bytes) override;
  void select_port(std::int16_t number) override {
    number_ = number;
    named_device_.clear();
  }
  void select_device(std::string path) override { named_device_ = std::move(path); }
  OpenResult open() override;
  void set_receive_threshold(int bytes) override { threshold_ = bytes; }
  void set_receive_handler(std::function<void()> handler) override {
    handler_ = std::move(handler);
  }
  std::size_t bytes_waiting() const override { return line_usable() ? input_.size() : 0; }
  std::optional<std::uint8_t> read_byte() override;
  bool takes_input_as_it_comes() const override;
  void close() override;

  // True while the port counts as open but its device is gone.
  bool device_lost() const { return reopen_timer_.has_value(); }

  static constexpr std::chrono::milliseconds reopen_interval{1000};
  // The most bytes the port takes in from the line between two requests: 512 answers,
  // four seconds of a 9600-baud line. Every request discards what waits, so a board that
  // sends faster than that (a flood) would only grow the buffer; beyond it the bytes wait
  // in the driver until the next request drops them.
  static constexpr std::size_t read_buffer_bound = 4096;

 private:
  bool line_usable() const { return open_ && !device_lost(); }
  // Opens the device with the fixed settings and its locks; why not, on failure. A
  // stale lock file in the way is removed and the open tried once more.
  std::optional<std::string> open_line(const std::string& device, bool again = false);
  std::optional<std::string> refused(int error, const std::string& device, bool again);
  void release_line();
  void watch_input(bool on);
  void take_input();
  void lose_device();
  void look_for_device();

  DescriptorLoop& loop_;
  std::filesystem::path program_dir_;
  std::int16_t number_ = 0;
  std::string named_device_;
  std::string device_;
  std::string open_notice_;  // for OpenResult::notice
  int fd_ = -1;
  termios saved_{};  // the line's settings before the open, given back at the close
  LineLockFile lock_file_;
  std::optional<DescriptorLoop::Id> watch_;
  std::optional<DescriptorLoop::Id> reopen_timer_;  // while the device is lost: the looks for it
  std::function<void()> handler_;
  int threshold_ = 1;
  bool open_ = false;
  std::deque<std::uint8_t> input_;
};
