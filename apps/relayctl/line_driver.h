#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "line/local_line.h"
#include "loop/event_wait.h"

// relayctl's one line for the whole run, on its event wait, holding the port's receive
// events while it lives: step() when the time it named has come and right after each
// receive event, as every host drives it. Its news goes to the handlers that the command
// running on it sets.
class LineDriver : public BoardEvents {
 public:
  LineDriver(SerialPort& port, EventWait& wait, const std::vector<std::uint8_t>& addresses,
             LineTiming timing = {});
  ~LineDriver() override;
  LineDriver(const LineDriver&) = delete;
  LineDriver& operator=(const LineDriver&) = delete;

  // Whether `done` held before the deadline.
  bool run_until(const std::function<bool()>& done, EventWait::Clock::time_point deadline);
  LocalLine& line() { return line_; }
  EventWait& wait() { return wait_; }
  // Waits until no request waits for its answer, late or not: a late answer would
  // otherwise reach the next program on the port as the answer to its first request.
  void settle();

  std::function<void(std::uint8_t, std::uint16_t)> answered;
  std::function<void(std::uint8_t)> lost;
  std::function<void(std::uint8_t)> missed;
  std::function<void(std::uint8_t, EventWait::Clock::duration)> late;

 private:
  void board_answered(std::uint8_t address, std::uint16_t opened) override;
  void board_lost(std::uint8_t address) override;
  void board_missed(std::uint8_t address) override;
  void board_late(std::uint8_t address, EventWait::Clock::duration waited) override;

  SerialPort& port_;
  EventWait& wait_;
  LocalLine line_;
  bool received_ = false;
};
