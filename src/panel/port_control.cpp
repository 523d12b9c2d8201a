#include "panel/port_control.h"

#include "serial/port_opening.h"

void PortControl::toggle_port() {
  if (port_.is_open()) {
    if (before_close_) before_close_();
    port_.close();
    port_closed();
    return;
  }
  open(view_.port_number_text(), std::nullopt);
}

bool PortControl::open_device(const std::string& path) {
  return open({}, path);
}

bool PortControl::open(const std::string& port_text, const std::optional<std::string>& device) {
  const PortOpening opening = open_port(port_, port_text, device, open_check_);
  if (!opening.ok) {
    messages_.show({opening.failure, "open com", MessageIcon::Critical});
    return false;
  }
  if (!opening.notice.empty()) messages_.show({opening.notice, "open com", MessageIcon::Warning});
  if (opened_line_) opened_line_(opening.line);
  port_opened();
  return true;
}

void PortControl::port_opened() {
  show_port_state(true);
}

void PortControl::port_closed() {
  show_port_state(false);
}

// Relays of an open port are unknown until the board reports; a closed port greys
// them. The bulk buttons and the poll follow the port; the number is locked while open.
void PortControl::show_port_state(bool open) {
  paint_all(indicators_, open ? IndicatorState::Unknown : IndicatorState::Idle);
  view_.set_open_all_enabled(open);
  view_.set_close_all_enabled(open);
  view_.set_timer_enabled(open);
  view_.set_port_box_enabled(!open);
  view_.set_open_button_caption(open ? "close com" : "open com");
}
