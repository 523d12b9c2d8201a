#include "panel/port_control.h"

#include "common/text_number.h"

void PortControl::toggle_port() {
  if (port_.is_open()) {
    if (before_close_) before_close_();
    port_.close();
    port_closed();
    return;
  }

  const std::string text = view_.port_number_text();
  const auto number = text_to_int16(text);
  if (!number) {
    messages_.show({"Port \"" + text + "\" could not be opened: not a port number", "open com",
                    MessageIcon::Critical});
    return;
  }
  port_.select_port(*number);
  if (const auto why = open_check_ ? open_check_() : std::nullopt) {
    messages_.show({"Port " + std::to_string(*number) + " was not opened: " + *why, "open com",
                    MessageIcon::Critical});
    return;
  }
  const OpenResult result = port_.open();
  const std::string device = result.device.empty() ? "no device" : result.device;
  open_selected(result, "Port " + std::to_string(*number) + " (" + device + ")");
}

bool PortControl::open_device(const std::string& path) {
  port_.select_device(path);
  if (const auto why = open_check_ ? open_check_() : std::nullopt) {
    messages_.show({path + " was not opened: " + *why, "open com", MessageIcon::Critical});
    return false;
  }
  return open_selected(port_.open(), path);
}

bool PortControl::open_selected(const OpenResult& result, const std::string& port_name) {
  if (!result.ok) {
    messages_.show(
        {port_name + " could not be opened: " + result.reason, "open com", MessageIcon::Critical});
    return false;
  }
  if (!result.notice.empty()) {
    messages_.show({port_name + " was opened: " + result.notice, "open com", MessageIcon::Warning});
  }
  port_.set_receive_threshold(receive_threshold);
  if (opened_line_) opened_line_(result.device.empty() ? port_name : result.device);
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
