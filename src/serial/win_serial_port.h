#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "serial/serial_port.h"

// The panel's serial line on Windows: COMn (\\.\COMn from 10 on) or a named device,
// 9600 8N1, no flow control, opened for this program alone. Everything happens on the
// thread that made it, the window's, whose message loop (any loop, a modal dialog's
// included) hands the bytes to the receive handler. Where the driver reports receive
// events (Windows), a receive watch (com_receive_watch.h) waits on them and posts to that
// thread. Where it does not (Wine), that thread looks at the line every look_interval,
// and only from a request until its answer (the receive threshold's worth of bytes) is
// in; bytes that nobody asked for wait until the next request's discard. No read
// blocks: Wine's serial emulation does not honour read timeouts on every device.
//
// A device that is really gone (a USB adapter pulled) is released at once, but the port
// still counts as open: frames are dropped and the watchdog shows the relays unknown.
// About once a second the port then looks for the device again and, once it is back,
// opens it with the same settings, and the poll goes on.
class WinSerialPort final : public SerialPort {
 public:
  WinSerialPort();
  ~WinSerialPort() override;
  WinSerialPort(const WinSerialPort&) = delete;
  WinSerialPort& operator=(const WinSerialPort&) = delete;

  bool is_open() const override;
  void discard_input() override;
  void write(std::span<const std::uint8_t> bytes) override;
  void select_port(std::int16_t number) override;
  void select_device(std::string path) override;
  OpenResult open() override;
  void set_receive_threshold(int bytes) override;
  void set_receive_handler(std::function<void()> handler) override;
  std::size_t bytes_waiting() const override;
  std::optional<std::uint8_t> read_byte() override;
  // Under Wine the line is looked at only while an answer is due.
  bool takes_input_as_it_comes() const override { return false; }
  void close() override;

  // A host that writes its requests on a steady tick (the panel's poll) runs each tick
  // through here. On a line without receive events, the answer to the last request is
  // taken in first, and a request written during the tick is looked at on the next tick
  // rather than on the look timer: the thread then wakes once per tick, not three times.
  // Requests written outside a tick (a waited-for stop state, relayctl's) keep the look
  // timer. Where the driver reports receive events this only runs `tick`.
  void on_tick(const std::function<void()>& tick);

  // True while the port counts as open but its device is gone.
  bool device_lost() const;

  // Requests written and looks at a line without receive events, since the port was made.
  struct LineCounts {
    std::uint64_t requests = 0;
    std::uint64_t looks = 0;
  };
  LineCounts counts() const;

  // How often a lost device is looked for.
  static constexpr std::chrono::milliseconds reopen_interval{1000};
  // How often a line without receive events is looked at while an answer is due: the
  // shortest interval of a window's timer (USER_TIMER_MINIMUM).
  static constexpr std::chrono::milliseconds look_interval{10};
  // The most bytes the port takes in from the line between two requests: 512 answers,
  // four seconds of a 9600-baud line. Every request discards what waits, so a board
  // that sends faster than that (a flood) would only grow the buffer; beyond it the
  // bytes wait in the driver until the next request drops them.
  static constexpr std::size_t read_buffer_bound = 4096;

 private:
  struct Line;
  std::unique_ptr<Line> line_;
};
