#include "served_port/line_choice_port.h"

#include <variant>

void LineChoicePort::select_port(std::int16_t number) {
  number_ = number;
  device_named_ = false;
  serial_.select_port(number);
}

void LineChoicePort::select_device(std::string path) {
  device_named_ = true;
  serial_.select_device(std::move(path));
}

OpenResult LineChoicePort::open() {
  active_->close();
  active_ = &serial_;
  if (device_named_) return serial_.open();
  const auto map = read_line_map(folder_);
  if (const auto* why = std::get_if<std::string>(&map)) return {false, {}, *why};
  const auto& lines = std::get<LineMap>(map);
  const auto line = lines.find(number_);
  if (line == lines.end()) return serial_.open();
  served_.select_line(line->second);
  active_ = &served_;
  return served_.open();
}

void LineChoicePort::set_receive_threshold(int bytes) {
  serial_.set_receive_threshold(bytes);
  served_.set_receive_threshold(bytes);
}

void LineChoicePort::set_receive_handler(std::function<void()> handler) {
  serial_.set_receive_handler(handler);
  served_.set_receive_handler(std::move(handler));
}
