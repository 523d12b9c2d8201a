#include "panel_link.h"

#include <algorithm>

PanelLink::PanelLink(const std::filesystem::path& program_dir, std::string port_text)
    : port_text(std::move(port_text)), port(program_dir) {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(50);
  QObject::connect(&timer_, &QTimer::timeout, [this] { cycle.Timer1_Timer(); });
  port.set_receive_handler([this](int event_code) {
    cycle.MSComm1_OnComm(event_code);
    received.push_back(cycle.rx_buf());
  });
  // The window's timer runs from creation on, before any port is open.
  timer_.start();
}

void PanelLink::set_timer_enabled(bool enabled) {
  if (!enabled) {
    timer_.stop();
  } else if (!timer_.isActive()) {
    timer_.start();
  }
}

int PanelLink::count(IndicatorState state) const {
  return static_cast<int>(std::count(indicators.states.begin(), indicators.states.end(), state));
}

std::vector<std::vector<std::uint8_t>> PanelLink::frames_written() const {
  std::vector<std::vector<std::uint8_t>> frames;
  for (const auto& write : line.writes) frames.push_back(write.bytes);
  return frames;
}
