#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "protocol/frame.h"
#include "protocol/frame_port.h"

struct OpenResult {
  bool ok = false;
  std::string device;  // what the port number mapped to; empty when it names none
  std::string reason;  // why the open failed, for the operator
  // What the operator should know of an open that succeeded (a stale lock file removed).
  std::string notice{};
};

// The serial line as the panel uses it. Fixed settings: 9600 baud, 8 data bits, no
// parity, 1 stop bit, no flow control, raw bytes. Everything happens on the UI
// thread; the receive event is queued like any other event.
class SerialPort : public FramePort {
 public:
  // Takes effect at the next open.
  virtual void select_port(std::int16_t number) = 0;
  // Takes effect at the next open: this device instead of the one a number maps to, for
  // callers that name the device itself; select_port undoes it.
  virtual void select_device(std::string path) = 0;
  // Opens the selected port with the fixed settings, or fails and stays closed.
  virtual OpenResult open() = 0;
  // From now on the receive event fires when at least `bytes` wait.
  virtual void set_receive_threshold(int bytes) = 0;
  // The handler is called for each receive event; none is delivered after close().
  virtual void set_receive_handler(std::function<void()> handler) = 0;
  // How many bytes wait in the input buffer now.
  virtual std::size_t bytes_waiting() const = 0;
  // Takes exactly one byte from the input buffer; nothing when it is empty.
  virtual std::optional<std::uint8_t> read_byte() = 0;
  // Whether the port takes bytes off the line as they come, so that bytes_waiting()
  // counts everything received. A port that looks at the line only while an answer is
  // due, leaving what nobody asked for in the driver until the next discard, says no.
  virtual bool takes_input_as_it_comes() const { return true; }
  // Bytes still waiting are thrown away.
  virtual void close() = 0;
};

// A whole answer taken off the input in wire order, or nothing (and nothing taken) while
// fewer bytes wait: a part of an answer read now would only cost the next one too.
std::optional<FrameBytes> read_answer(SerialPort& port);
