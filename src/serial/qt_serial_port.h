#pragma once

#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "serial/serial_port.h"

// The panel's serial line on QSerialPort. The port number maps to a device through
// port_device (the com<n> link in the program's folder, or the system's device).
//
// The line is kept whatever the board's timing and however long the panel stalls: only
// a device that is really gone (hung up, an I/O error, its device file vanished) is
// released. It is released at once, so that the dead line cannot keep the event loop
// busy, but the port still counts as open: frames are dropped and the watchdog shows
// the relays unknown. About once a second the port then looks for the device at the
// same path and, once it is back (a USB adapter plugged in again), opens it with the
// same settings, and the poll goes on.
class QtSerialPort : public QObject, public SerialPort {
 public:
  explicit QtSerialPort(const std::filesystem::path& program_dir);
  ~QtSerialPort() override;

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
  void set_receive_handler(std::function<void()> handler) override;
  std::size_t bytes_waiting() const override;
  std::optional<std::uint8_t> read_byte() override;
  bool takes_input_as_it_comes() const override {
    return read_notifier_ && read_notifier_->isEnabled();
  }
  void close() override;

  // True while the port counts as open but its device is gone.
  bool device_lost() const { return lost_; }

  // How often a lost device is looked for.
  static constexpr std::chrono::milliseconds reopen_interval{1000};
  // The most bytes the port takes in from the line between two requests: 512 answers,
  // four seconds of a 9600-baud line. Every request discards what waits, so a board
  // that sends faster than that (a flood) would only grow the buffer; beyond it the
  // bytes wait in the driver until the next request drops them.
  static constexpr qint64 read_buffer_bound = 4096;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool line_usable() const { return open_ && !lost_; }
  // Opens the device with the fixed settings and its lock; why not, on failure.
  // A stale lock file in the way is removed and the open tried once more.
  std::optional<std::string> open_line(const std::string& device, bool again = false);
  void start_session();
  void watch_line();
  // Reads what the line holds now and hands it on once a whole answer waits.
  void take_input();
  void on_ready_read();
  void deliver_receive_event(std::uint64_t session);
  void on_error(QSerialPort::SerialPortError error);
  void lose_device();
  void look_for_device();

  std::filesystem::path program_dir_;
  std::int16_t number_ = 0;
  std::string named_device_;
  std::string device_;       // the path the port number named at the open
  std::string open_notice_;  // for OpenResult::notice
  QSerialPort serial_;
  QPointer<QSocketNotifier> read_notifier_;
  QTimer reopen_timer_;
  std::function<void()> handler_;
  int threshold_ = 1;
  bool open_ = false;
  bool lost_ = false;
  bool configuring_ = false;
  bool event_posted_ = false;
  bool taking_input_ = false;       // the receive handler runs
  std::deque<std::uint8_t> input_;  // read off the line, not yet taken
  // Counts opens, reopens and closes, so that an event queued for an earlier line is
  // dropped.
  std::uint64_t session_ = 0;
};
