#pragma once

#include <QObject>
#include <QSerialPort>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "link/serial_port.h"

// The panel's serial line on QSerialPort. The port number maps to a device through
// port_device (the com<n> link in the program's folder, or the system's device).
//
// A device that goes away while open (a pulled USB adapter, the other end of a
// pseudo-terminal gone) is released at once, so that the dead line cannot keep the
// event loop busy, but the port still counts as open: frames are dropped and the
// watchdog shows the relays unknown until the operator closes it and opens it again.
class QtSerialPort : public QObject, public SerialPort {
 public:
  explicit QtSerialPort(const std::filesystem::path& program_dir);
  ~QtSerialPort() override;

  bool is_open() const override { return open_; }
  void discard_input() override;
  void write(std::span<const std::uint8_t> bytes) override;
  void select_port(std::int16_t number) override { number_ = number; }
  OpenResult open() override;
  void set_receive_threshold(int bytes) override { threshold_ = bytes; }
  void set_receive_handler(std::function<void(int event_code)> handler) override;
  std::size_t bytes_waiting() const override;
  std::optional<std::uint8_t> read_byte() override;
  void close() override;

  // True while the port counts as open but its device is gone.
  bool device_lost() const { return lost_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool line_usable() const { return open_ && !lost_; }
  void watch_for_hangup();
  void on_ready_read();
  void deliver_receive_event(std::uint64_t session);
  void on_error(QSerialPort::SerialPortError error);
  void lose_device();

  std::filesystem::path program_dir_;
  std::int16_t number_ = 0;
  QSerialPort serial_;
  std::function<void(int)> handler_;
  int threshold_ = 1;
  bool open_ = false;
  bool lost_ = false;
  bool configuring_ = false;
  bool event_posted_ = false;
  // Counts opens and closes, so that an event queued for an earlier opening is dropped.
  std::uint64_t session_ = 0;
};
