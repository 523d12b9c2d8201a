#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "loop/event_wait.h"
#include "line/line_engine.h"

// The line engine on relayctl's event wait, holding the port's receive events while it
// lives: step() when the time it named has come and right after each receive event, as
// every host drives it. Its events go to the handlers that are set.
class LineDriver : public LineObserver {
 public:
  LineDriver(SerialPort& port, EventWait& wait, const std::vector<std::uint8_t>& addresses,
             LineTiming timing = {});
  ~LineDriver() override;
  LineDriver(const LineDriver&) = delete;
  LineDriver& operator=(const LineDriver&) = delete;

  // Whether `done` held before the deadline.
  bool run_until(const std::function<bool()>& done, EventWait::Clock::time_point deadline);
  LineEngine& bus() { return bus_; }
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
  LineEngine bus_;
  bool received_ = false;
};

// How long after its request relayctl still expects a late answer: a few timeouts,
// bounded.
std::chrono::milliseconds late_limit(std::chrono::milliseconds timeout);
