#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "daemon_host.h"
#include "line/board_line.h"
#include "line/local_line.h"

// Which serial line the bridge serves: a port number under the panel's rule (the com<n>
// link in the state folder, else the system's device) or a device path.
struct LineChoice {
  std::optional<std::int16_t> port;
  std::optional<std::string> device;
};

// The bridge's serial line: the system's serial port (the host's), opened and diagnosed as
// the panel opens it, under a local line driven by a precise single-shot timer set to the
// time the line asks for, and by the port's receive events. The line is never given up: an open
// that fails is tried again every second (the operator reads why, once per reason), and a device
// that goes away is looked for every second by the port itself until it is back.
class BusLine : public BoardLine {
 public:
  using LogLine = std::function<void(const std::string&)>;

  BusLine(DaemonHost& host, const std::filesystem::path& link_folder, LineChoice choice,
          std::vector<std::uint8_t> addresses, std::chrono::milliseconds answer_timeout,
          LogLine log, LogLine warn);

  // Opens the line (or keeps trying) and starts polling.
  void start();
  // BoardLine: a command is refused while the line is not open or its device is lost,
  // never kept for later; one taken goes out at once.
  std::optional<SwitchRefusal> command(const SwitchCommand& command,
                                       Clock::time_point now) override;
  std::optional<bool> commanded(std::uint8_t address, int relay) const override {
    return line_.commanded(address, relay);
  }
  void end_pulses(Clock::time_point now) override;
  void set_events(BoardEvents* events) override { line_.set_events(events); }
  // The operator's rules of the line (interlocks, max_on).
  void set_rules(LineRules rules) { line_.engine().set_rules(std::move(rules)); }
  // What the line owes its boards (LocalLine::owed), told through `on_owed` each time it
  // changes; recall() puts the last run's back before the line opens.
  std::function<void(const OwedState&)> on_owed;
  void recall(const OwedState& owed) {
    line_.recall(owed, Clock::now());
    told_owed_ = line_.owed();
  }
  // Stops polling and closes the port.
  void close();
  // Sends the switches still queued (the boards' on_stop states first, then a pulse's
  // end), awaits the reports that confirm the rules' switches and the pulses' ends (sent
  // again meanwhile), then closes the port and calls `done`; closes anyway once
  // `patience` has passed, naming the relays that may be left on (or off).
  void close_when_sent(std::chrono::milliseconds patience, std::function<void()> done);

  static constexpr std::chrono::milliseconds open_retry{1000};
  // A stop waits this long for the boards: time for a second send of a stop state that
  // met silence (OwedSwitch::first_wait) and its answer.
  static constexpr std::chrono::milliseconds stop_patience{2000};

 private:
  void try_open();
  void step();
  // The port keeps a lost device open and reopens it by itself; the bridge hears of it
  // here, at the line's pace.
  void notice_device();
  // The rules' switches and pulse ends that switch relays off, not confirmed yet, by
  // board (the relays a close may leave on).
  std::map<std::uint8_t, std::uint16_t> unconfirmed() const;
  // The pulse ends not confirmed yet that switch relays back on (`back_opened`) or off.
  std::map<std::uint8_t, std::uint16_t> pulses_unconfirmed(bool back_opened) const;
  void tell_owed();

  DaemonPort port_;
  LocalLine line_;
  LineChoice choice_;
  LogLine log_;
  LogLine warn_;  // a failed open, a lost device, a switch maybe left undone
  std::unique_ptr<DaemonTimer> step_timer_;
  std::unique_ptr<DaemonTimer> open_timer_;  // every open_retry until the line is open
  std::string name_;                         // how the log names the line
  std::string last_failure_;                 // the open failure last told
  bool open_ = false;
  bool lost_ = false;
  std::function<void()> closed_;  // set while the queue drains before a close
  std::chrono::steady_clock::time_point close_by_{};
  OwedState told_owed_;
};
