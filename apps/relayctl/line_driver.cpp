#include "line_driver.h"

#include <algorithm>

LineDriver::LineDriver(SerialPort& port, EventWait& wait,
                       const std::vector<std::uint8_t>& addresses, LineTiming timing)
    : port_(port), wait_(wait), line_(port, addresses, timing) {
  line_.set_events(this);
  port_.set_receive_handler([this] {
    line_.on_receive(wait_.now());
    received_ = true;
  });
}

LineDriver::~LineDriver() {
  port_.set_receive_handler({});
  line_.set_events(nullptr);
}

bool LineDriver::run_until(const std::function<bool()>& done,
                           EventWait::Clock::time_point deadline) {
  while (!done()) {
    const auto now = wait_.now();
    if (now >= deadline) return false;
    const auto next = std::min(line_.step(now), deadline);
    if (done()) break;
    received_ = false;
    wait_.wait_until([&] { return received_ || done(); }, next);
  }
  return true;
}

void LineDriver::settle() {
  const LineEngine& engine = line_.engine();
  run_until([&] { return !engine.busy(); }, wait_.now() + engine.timing().late_limit);
}

void LineDriver::board_answered(std::uint8_t address, std::uint16_t opened) {
  if (answered) answered(address, opened);
}
void LineDriver::board_lost(std::uint8_t address) {
  if (lost) lost(address);
}
void LineDriver::board_missed(std::uint8_t address) {
  if (missed) missed(address);
}
void LineDriver::board_late(std::uint8_t address, EventWait::Clock::duration waited) {
  if (late) late(address, waited);
}
